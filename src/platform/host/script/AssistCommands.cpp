#include "host/script/AssistCommands.h"

#include <charconv>
#include <cmath>

#include "host/script/ViewSearch.h"
#include "ui/UISwitchAndStepper.h"

namespace host::script {
namespace {

const char* switchIdentifier(AssistName assist) {
    switch (assist) {
    case AssistName::histogram:
        return "histogramSwitch";
    case AssistName::waveform:
        return "waveformSwitch";
    case AssistName::zebra:
        return "zebraSwitch";
    case AssistName::peaking:
        return "peakingSwitch";
    }
    return "";
}

std::string onOff(std::string_view name, const std::vector<std::string_view>& args, AssistName assist,
                  std::variant<SetAssist, std::string>& result) {
    const bool histogram = assist == AssistName::histogram;
    const std::string choices = histogram ? "on, off or rgb" : "on or off";
    if (args.size() != 1)
        return std::string(name) + " takes " + choices;
    if (args[0] == "on" || args[0] == "off" || (histogram && args[0] == "rgb")) {
        result = SetAssist{assist, args[0] != "off", args[0] == "rgb"};
        return {};
    }
    return std::string(name) + ": unknown choice '" + std::string(args[0].substr(0, 64)) + "' (" + choices +
           ")";
}

} // namespace

std::optional<std::variant<SetAssist, std::string>>
parseAssistCommand(std::string_view name, const std::vector<std::string_view>& args) {
    std::variant<SetAssist, std::string> result;
    std::string problem;
    if (name == "histogram")
        problem = onOff(name, args, AssistName::histogram, result);
    else if (name == "waveform")
        problem = onOff(name, args, AssistName::waveform, result);
    else if (name == "peaking")
        problem = onOff(name, args, AssistName::peaking, result);
    else if (name == "zebra") {
        if (args.size() != 1)
            return std::string("zebra takes off or a level in percent, 50 to 100");
        if (args[0] == "off")
            return SetAssist{AssistName::zebra, false};
        int percent = 0;
        const char* end = args[0].data() + args[0].size();
        auto [next, error] = std::from_chars(args[0].data(), end, percent);
        if (error != std::errc{} || next != end || percent < 50 || percent > 100)
            return "zebra: the level must be off or a whole percent from 50 to 100, not '" +
                   std::string(args[0].substr(0, 64)) + "'";
        return SetAssist{AssistName::zebra, true, false, double(percent)};
    } else
        return std::nullopt;
    if (!problem.empty())
        return problem;
    return result;
}

std::string performAssist(UIView& root, const SetAssist& command) {
    const char* identifier = switchIdentifier(command.assist);
    auto* button = findView<UISwitch>(root, identifier);
    if (!button)
        return std::string("there is no ") + identifier + " on the screen";
    if (command.assist == AssistName::histogram && command.on) {
        auto* colour = findView<UISwitch>(root, "histogramColourSwitch");
        if (!colour)
            return "there is no histogramColourSwitch on the screen";
        colour->flipTo(command.colour);
    }
    if (command.assist == AssistName::zebra && command.on) {
        auto* level = findView<UIStepper>(root, "zebraLevelStepper");
        if (!level)
            return "there is no zebraLevelStepper on the screen";
        level->touchValue(command.zebraPercent);
    }
    button->flipTo(command.on);
    return {};
}

bool pressAssistKey(UIView& root, char key) {
    const char* identifier = nullptr;
    switch (key) {
    case 'h':
        identifier = "histogramSwitch";
        break;
    case 'c':
        identifier = "histogramColourSwitch";
        break;
    case 'w':
        identifier = "waveformSwitch";
        break;
    case 'z':
        identifier = "zebraSwitch";
        break;
    case 'p':
        identifier = "peakingSwitch";
        break;
    case '[':
    case ']':
        if (auto* level = findView<UIStepper>(root, "zebraLevelStepper"))
            level->stepBy(key == '[' ? -1 : +1);
        return true;
    default:
        return false;
    }
    if (auto* button = findView<UISwitch>(root, identifier))
        button->flipTo(!button->isOn());
    return true;
}

std::vector<std::string> assistKeyHelp() {
    return {"H:  histogram      C:  its red, green and blue view", "W:  waveform      P:  focus peaking",
            "Z:  zebra      [ / ]:  zebra level down / up"};
}

} // namespace host::script
