#include "host/script/UiInspector.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "ui/UIControls.h"
#include "ui/UIPlotView.h"
#include "ui/UISwitchAndStepper.h"
#include "ui/UIViewController.h"

namespace host {
namespace {

template <typename Number> std::string shortest(Number value) {
    if (!std::isfinite(value))
        return "null";
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc{})
        return "null";
    return std::string(buffer, end);
}

const char* boolean(bool value) {
    return value ? "true" : "false";
}

// "[x,y,width,height]" in window points.
std::string frameArray(CGRect f) {
    // Appended piece by piece: GCC 12 at -O3 misreads `"[" + std::string` as an overlapping
    // copy (-Wrestrict).
    std::string text = "[";
    for (double value : {f.origin.x, f.origin.y, f.size.width, f.size.height}) {
        if (text.size() > 1)
            text += ',';
        text += jsonNumber(value);
    }
    return text + "]";
}

// The members of one view's object, or empty for kinds print-ui does not show.
std::string describeKind(const UIView& view) {
    const std::string hidden = std::string("\"hidden\":") + boolean(view.isHidden());
    if (auto* label = dynamic_cast<const UILabel*>(&view))
        return "\"text\":" + jsonString(label->text()) + "," + hidden;
    if (auto* slider = dynamic_cast<const UISlider*>(&view))
        return "\"minimum\":" + jsonNumber(slider->minimumValue()) +
               ",\"maximum\":" + jsonNumber(slider->maximumValue()) +
               ",\"value\":" + jsonNumber(slider->value()) + "," + hidden;
    if (auto* control = dynamic_cast<const UISegmentedControl*>(&view))
        return "\"selectedSegmentIndex\":" + std::to_string(control->selectedSegmentIndex()) + "," + hidden;
    if (dynamic_cast<const UIStackView*>(&view))
        return hidden;
    if (dynamic_cast<const UIPlotView*>(&view))
        return hidden;
    if (auto* button = dynamic_cast<const UISwitch*>(&view))
        return std::string("\"on\":") + boolean(button->isOn()) + "," + hidden;
    if (auto* stepper = dynamic_cast<const UIStepper*>(&view))
        return "\"value\":" + jsonNumber(stepper->value()) + "," + hidden;
    if (auto* spinner = dynamic_cast<const UIActivityIndicatorView*>(&view))
        return std::string("\"animating\":") + boolean(spinner->isAnimating()) + "," + hidden;
    if (dynamic_cast<const UIButton*>(&view))
        return hidden;
    return {};
}

std::string describeView(const UIView& view) {
    std::string members = describeKind(view);
    if (members.empty())
        return members;
    // Said only of a control a person cannot change now (one the camera lacks).
    if (auto* control = dynamic_cast<const UIControl*>(&view); control && !control->isEnabled())
        members += ",\"enabled\":false";
    return members + ",\"frame\":" + frameArray(view.frameInRoot());
}

void collect(const UIView& view, std::string& out) {
    if (!view.identifier().empty()) {
        std::string members = describeView(view);
        if (!members.empty()) {
            if (out.size() > 1)
                out += ',';
            out += jsonString(view.identifier()) + ":{" + members + "}";
        }
    }
    for (const auto& child : view.subviews())
        collect(*child, out);
}

} // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c); // UTF-8 passes through whole
            }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value) {
    return shortest(value);
}
std::string jsonNumber(float value) {
    return shortest(value);
}

std::string describeUi(const UIView& root, const UIViewController* controller) {
    std::string out = "{";
    collect(root, out);
    out += std::string(out.size() > 1 ? "," : "") +
           "\"window\":{\"frame\":" + frameArray(root.frameInRoot()) + "}";
    for (const char* key : {"hideControls", "selectedFilterIndex"}) {
        std::optional<std::string> value;
        if (controller)
            value = controller->inspectValueForKey(key);
        if (out.size() > 1)
            out += ',';
        out += jsonString(key) + ":" + (value ? *value : "null");
    }
    // The scopes' latest measurement, once there is one.
    if (auto scopes = controller ? controller->inspectValueForKey("scopes") : std::nullopt)
        out += ",\"scopes\":" + *scopes;
    return out + "}";
}

} // namespace host
