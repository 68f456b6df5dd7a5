#pragma once
// The exposure and focus assists as script commands and keys. Both work the panel's
// buttons as a person would, whether or not the panel is shown (a key works with the
// panel hidden too):
//
//   histogram on|off|rgb    waveform on|off    zebra off|PERCENT (50...100)    peaking on|off
//
// `histogram rgb` shows the histogram with its red, green and blue view.
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class UIView;

namespace host::script {

enum class AssistName { histogram, waveform, zebra, peaking };

struct SetAssist {
    AssistName assist;
    bool on;
    bool colour = false;     // histogram: the red, green and blue view
    double zebraPercent = 0; // zebra: the level when on
};

// Nothing when `name` is no assist command; otherwise the command or what is wrong.
std::optional<std::variant<SetAssist, std::string>>
parseAssistCommand(std::string_view name, const std::vector<std::string_view>& args);

// Main thread: sets the panel's buttons under `root` to `command`. Returns what is
// missing, or empty when done.
std::string performAssist(UIView& root, const SetAssist& command);

// Main thread: the assists' keys, as their characters: h histogram, c its colour view,
// w waveform, z zebra, [ and ] the zebra level down and up, p peaking. False for any
// other key.
bool pressAssistKey(UIView& root, char key);

// The lines the help overlay shows for these keys.
std::vector<std::string> assistKeyHelp();

} // namespace host::script
