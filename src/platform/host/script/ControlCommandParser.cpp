// The script's `control NAME VALUE`, read without the camera: the parser's part, kept apart
// from what acts on the camera so that the script's fuzzer builds it alone.
#include <charconv>

#include "host/script/ControlCommands.h"

namespace host::script {

std::optional<std::variant<SetControl, std::string>>
parseControlCommand(std::string_view name, const std::vector<std::string_view>& args) {
    if (name != "control")
        return std::nullopt;
    if (args.size() < 2)
        return "control needs a control's name (or id) and a value";
    const std::string_view text = args.back();
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return "control: the value '" + std::string(text.substr(0, 64)) + "' is not a whole number";
    SetControl command;
    // Appended piece by piece: GCC 12 at -O3 misreads `"" + std::string(...)` as an
    // overlapping copy (-Wrestrict).
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (i)
            command.name += ' ';
        command.name += args[i];
    }
    command.value = value;
    return command;
}

} // namespace host::script
