// The command line from arbitrary arguments: whatever a person or a shell script types,
// the parser either hands back options the launcher can act on or ends the run with a
// status and one message; it never throws, and never lets a value through that the
// launcher does not expect.
//
// Input: the arguments separated by NUL bytes (at most 24 of them).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/CommandLine.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_command_line: %s\n", what);
    std::abort();
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool lowerEndsWith(std::string text, const std::string& suffix) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return endsWith(text, suffix);
}

bool acceptableCamera(const std::string& source) {
    // Webcams by kernel name or any udev link (/dev/v4l/by-id/..., /dev/webcam).
    return source == "virtual" || (source.rfind("/dev/", 0) == 0 && source.size() > 5) ||
           lowerEndsWith(source, ".png") || lowerEndsWith(source, ".jpg") || lowerEndsWith(source, ".jpeg");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words{"fernhold"};
    std::string current;
    for (size_t i = 0; i < size && words.size() < 25; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current.push_back(char(data[i]));
        }
    }
    if (size > 0 && words.size() < 25)
        words.push_back(current);
    std::vector<const char*> argv;
    for (const auto& word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr); // as main() gets it

    auto result = host::parseCommandLine(int(words.size()), argv.data());

    if (auto* request = std::get_if<host::ExitRequest>(&result)) {
        if (request->message.empty())
            broken("an exit without a message");
        if (request->status == 2) {
            if (request->message.rfind("fernhold: ", 0) != 0 || !endsWith(request->message, "; see --help"))
                broken("a usage error that is not 'fernhold: ...; see --help'");
        } else if (request->status != 0) {
            broken("an exit status other than 0 or 2 before the run");
        }
        return 0;
    }

    const auto& options = std::get<host::Options>(result);
    // Empty: none named, the launcher picks the first webcam or the virtual camera.
    if (!options.camera.empty() && !acceptableCamera(options.camera))
        broken("a camera source the factory cannot open was accepted");
    if (options.script && options.script->empty())
        broken("an empty script name was accepted");
    if (options.seconds && !(std::isfinite(*options.seconds) && *options.seconds > 0 &&
                             *options.seconds <= host::maximumRunSeconds))
        broken("a run length outside (0, 10^6] seconds was accepted");
    return 0;
}
