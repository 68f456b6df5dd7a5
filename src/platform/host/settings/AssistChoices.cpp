#include "host/settings/AssistChoices.h"

#include <charconv>
#include <string>

#include "foundation/Print.h"
#include "host/script/AssistCommands.h"
#include "host/script/ViewSearch.h"
#include "host/settings/SettingsStore.h"
#include "ui/UISwitchAndStepper.h"

namespace host {
namespace {

const char* onOff(UISwitch* button) {
    return button && button->isOn() ? "on" : "off";
}

} // namespace

void rememberAssists(UIView& root, SettingsStore& store) {
    auto* histogram = findView<UISwitch>(root, "histogramSwitch");
    auto* colour = findView<UISwitch>(root, "histogramColourSwitch");
    store.setHostChoice(
        "histogram", histogram && histogram->isOn() && colour && colour->isOn() ? "rgb" : onOff(histogram));
    store.setHostChoice("waveform", onOff(findView<UISwitch>(root, "waveformSwitch")));
    store.setHostChoice("zebra", onOff(findView<UISwitch>(root, "zebraSwitch")));
    if (auto* level = findView<UIStepper>(root, "zebraLevelStepper"))
        store.setHostChoice("zebra level", std::to_string(int(level->value())));
    store.setHostChoice("peaking", onOff(findView<UISwitch>(root, "peakingSwitch")));
}

void restoreAssists(UIView& root, const SettingsStore& store) {
    if (auto level = store.hostChoice("zebra level")) {
        double percent = 0;
        const auto [end, error] = std::from_chars(level->data(), level->data() + level->size(), percent);
        auto* stepper = findView<UIStepper>(root, "zebraLevelStepper");
        if (error != std::errc{} || end != level->data() + level->size() || !stepper ||
            percent < stepper->minimumValue() || percent > stepper->maximumValue())
            foundation::logError("settings: zebra level = " + *level + " is out of range; ignored");
        else
            stepper->setValue(percent);
    }
    for (const char* name : {"histogram", "waveform", "zebra", "peaking"}) {
        auto value = store.hostChoice(name);
        if (!value)
            continue;
        std::string word = *value;
        if (word == "on" && std::string(name) == "zebra")
            if (auto* stepper = findView<UIStepper>(root, "zebraLevelStepper"))
                word = std::to_string(int(stepper->value()));
        const auto parsed = script::parseAssistCommand(name, {std::string_view(word)});
        if (!parsed || std::holds_alternative<std::string>(*parsed)) {
            foundation::logError("settings: " + std::string(name) + " = " + *value +
                                 " is out of range; ignored");
            continue;
        }
        script::performAssist(root, std::get<script::SetAssist>(*parsed));
    }
}

} // namespace host
