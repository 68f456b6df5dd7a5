#include "host/script/ControlCommands.h"

#include "capture/CameraControls.h"
#include "host/script/UiInspector.h"

namespace host::script {
namespace {

const char* typeName(CameraControlKind kind) {
    switch (kind) {
    case CameraControlKind::integer:
        return "int";
    case CameraControlKind::boolean:
        return "bool";
    case CameraControlKind::menu:
        return "menu";
    case CameraControlKind::integerMenu:
        return "intmenu";
    case CameraControlKind::button:
        return "button";
    }
    return "";
}

} // namespace

std::string performControl(CameraControls* controls, const SetControl& command) {
    if (!controls)
        return "the camera has no control '" + command.name + "'";
    const auto control = controls->find(command.name);
    if (!control)
        return "the camera has no control '" + command.name + "'";
    const std::string why = controls->setValue(control->id, command.value);
    return why.empty() ? why
                       : "cannot set " + control->name + " to " + std::to_string(command.value) + ": " + why;
}

std::string describeCameraControls(const CameraControls& controls) {
    std::string out = "[";
    for (const CameraControl& c : controls.controls()) {
        if (out.size() > 1)
            out += ',';
        out += "{\"name\":" + jsonString(c.name) + ",\"id\":" + std::to_string(c.id) +
               ",\"group\":" + jsonString(c.group) + ",\"type\":\"" + typeName(c.kind) +
               "\",\"minimum\":" + std::to_string(c.minimum) + ",\"maximum\":" + std::to_string(c.maximum) +
               ",\"step\":" + std::to_string(c.step) + ",\"default\":" + std::to_string(c.defaultValue) +
               ",\"value\":" + std::to_string(c.value) + ",\"flags\":" + jsonString(c.flagText());
        if (!c.menu.empty()) {
            out += ",\"menu\":{";
            for (size_t i = 0; i < c.menu.size(); ++i) {
                if (i)
                    out += ',';
                out += jsonString(std::to_string(c.menu[i].index));
                out += ':';
                out += jsonString(c.menu[i].label);
            }
            out += "}";
        }
        out += "}";
    }
    return out + "]";
}

} // namespace host::script
