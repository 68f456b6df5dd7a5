#pragma once
// The camera's further controls as a script command:
//
//   control NAME VALUE
//
// NAME is the control's name as the camera reports it (its words as they are, e.g.
// `control White Balance Temperature 4000`) or its V4L2 id in decimal or 0x hexadecimal;
// VALUE a whole number (a menu's item index, 1 or 0 for a switch).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class CameraControls;

namespace host::script {

struct SetControl {
    std::string name;
    int64_t value = 0;
};

// Nothing when `name` is no control command; otherwise the command or what is wrong.
std::optional<std::variant<SetControl, std::string>>
parseControlCommand(std::string_view name, const std::vector<std::string_view>& args);

// Any thread: sets the control on `controls` (null: the camera has none). Returns what
// went wrong, or empty when done.
std::string performControl(CameraControls* controls, const SetControl& command);

// The controls as print-ui lists them: a JSON array of objects with the name, id, group,
// type, range, step, default, value, flags and menu items.
std::string describeCameraControls(const CameraControls& controls);

} // namespace host::script
