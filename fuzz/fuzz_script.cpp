// Scripts as arbitrary text: the parser is the gate between a file anyone can write and
// the player that acts on the screen, so whatever it accepts must be within the limits
// the player relies on, and whatever it refuses must name a line that exists.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "host/script/ScriptParser.h"

namespace {

using namespace host::script;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_script: %s\n", what);
    std::abort();
}

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>; // clang 14 deduces no aggregate

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A file name word: what a snapshot or capture writes to.
void checkFileName(const std::string& file) {
    if (file.size() <= 4 || file.compare(file.size() - 4, 4, ".png") != 0)
        broken("a file name accepted without a name ending in .png");
    for (char c : file)
        if (isBlank(c) || c == '\n' || c == '#')
            broken("a file name with a blank, newline or comment in it");
}

void checkStep(const Step& step) {
    std::visit(Overloaded{
                   [](const Wait& wait) {
                       if (wait.duration.count() < 0 || wait.duration > longestWait)
                           broken("a wait outside 0 ... 1 hour");
                   },
                   [](const WaitFrames& wait) {
                       if (wait.frames == 0 || wait.frames > mostFrames)
                           broken("a frame wait outside 1 ... 10^7");
                   },
                   [](const Pinch& pinch) {
                       if (!(pinch.scale >= smallestPinch && pinch.scale <= largestPinch))
                           broken("a pinch scale outside 0.01 ... 100");
                   },
                   [](const TouchMode& touch) {
                       if (touch.segment < 0 || touch.segment > 3)
                           broken("a mode segment outside 0 ... 3");
                       if (touch.control != ModeControl::focus && touch.control != ModeControl::exposure)
                           broken("an unknown mode control");
                   },
                   [](const DragSlider& drag) {
                       if (!std::isfinite(drag.value) || std::fabs(drag.value) > largestSliderMagnitude)
                           broken("a slider value that is not finite or too large");
                       if (std::string_view(sliderIdentifier(drag.slider)).empty())
                           broken("an unknown slider");
                   },
                   [](const Pressure& pressure) {
                       if (pressure.level.empty() || pressure.level.size() > 64)
                           broken("a pressure level that is empty or longer than 64");
                       for (char c : pressure.level)
                           if (isBlank(c) || c == '\n' || c == '#')
                               broken("a pressure level with a blank in it");
                   },
                   [](const Snapshot& shot) { checkFileName(shot.file); },
                   [](const Capture& shot) { checkFileName(shot.file); },
                   [](const auto&) {},
               },
               step.command);
}

int countLines(std::string_view text) {
    int lines = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        ++lines;
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int lines = countLines(text);
    auto result = parseScript(text);

    if (auto* error = std::get_if<ParseError>(&result)) {
        if (error->line < 1 || error->line > lines)
            broken("an error on a line that does not exist");
        if (error->message.empty())
            broken("an error that says nothing");
        if (error->describe().rfind("script:" + std::to_string(error->line) + ": ", 0) != 0)
            broken("an error line without its script:LINE: prefix");
    } else {
        const Script& script = std::get<Script>(result);
        int previous = 0;
        for (const Step& step : script.steps) {
            if (step.line <= previous || step.line > lines)
                broken("steps out of line order");
            previous = step.line;
            checkStep(step);
        }
    }

    // A comment line in front moves every line number by one and changes nothing else.
    std::string shifted = "# shifted\n";
    shifted.append(text);
    auto again = parseScript(shifted);
    if (result.index() != again.index())
        broken("a leading comment changed whether the script is accepted");
    if (auto* error = std::get_if<ParseError>(&result)) {
        const auto& other = std::get<ParseError>(again);
        if (other.line != error->line + 1 || other.message != error->message)
            broken("a leading comment changed the error beyond its line number");
    } else {
        const auto& first = std::get<Script>(result).steps;
        const auto& second = std::get<Script>(again).steps;
        if (first.size() != second.size())
            broken("a leading comment changed the number of steps");
        for (size_t i = 0; i < first.size(); ++i)
            if (second[i].line != first[i].line + 1 || second[i].command.index() != first[i].command.index())
                broken("a leading comment changed a step");
    }
    return 0;
}
