#include "host/script/ScriptParser.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace host::script {
namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            result.push_back(line.substr(start, i - start));
    }
    return result;
}

// A whole token as a finite number; nothing for anything else ("1.5x", "nan", "").
std::optional<double> number(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [next, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || next != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Script words are echoed in error lines: control bytes are shown escaped, so they cannot
// move the terminal's cursor or split the line, and very long words are cut.
std::string quoted(std::string_view text) {
    constexpr size_t longest = 64;
    std::string out = "'";
    for (size_t i = 0; i < text.size() && i < longest; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += char(byte);
        }
    }
    if (text.size() > longest)
        out += "...";
    return out + "'";
}

// Every command parser gets the words after the command name and either fills
// `command` or returns what is wrong.
using Arguments = std::vector<std::string_view>;
using Result = std::variant<Command, std::string>;

std::string arity(std::string_view name, std::string_view usage) {
    return std::string(name) + " takes " + std::string(usage);
}

Result parseWait(const Arguments& args) {
    const std::string usage = "a duration or a frame count: wait 500ms, wait 2s, wait 30 frames";
    std::string_view amount, unit;
    if (args.size() == 2) {
        amount = args[0];
        unit = args[1];
    } else if (args.size() == 1) {
        // "500ms", "2s": the unit is glued on.
        const std::string_view word = args[0];
        size_t split = word.size();
        while (split > 0 && std::isalpha(static_cast<unsigned char>(word[split - 1])))
            --split;
        amount = word.substr(0, split);
        unit = word.substr(split);
    } else {
        return "wait takes " + usage;
    }
    if (unit.empty())
        return "wait " + quoted(args[0]) + " has no unit (ms, s or frames)";
    auto value = number(amount);
    if (!value)
        return "wait: " + quoted(amount) + " is not a number";
    if (*value <= 0)
        return "wait: " + quoted(amount) + " must be above 0";
    if (unit == "frames" || unit == "frame") {
        if (*value != std::floor(*value))
            return "wait: a frame count must be a whole number, not " + quoted(amount);
        if (*value > static_cast<double>(mostFrames))
            return "wait: at most 10000000 frames, not " + quoted(amount);
        return WaitFrames{static_cast<uint64_t>(*value)};
    }
    double milliseconds = 0;
    if (unit == "ms")
        milliseconds = *value;
    else if (unit == "s")
        milliseconds = *value * 1000;
    else
        return "wait: unknown unit " + quoted(unit) + " (ms, s or frames)";
    if (milliseconds > static_cast<double>(longestWait.count()))
        return "wait: at most 1 hour, not " + quoted(args[0]);
    // Waits are whole milliseconds: one that rounds to none would be the refused "0ms".
    const int64_t rounded = std::llround(milliseconds);
    if (rounded == 0)
        return "wait: " + quoted(args[0]) + " is shorter than 1 ms";
    return Wait{std::chrono::milliseconds(rounded)};
}

Result parseMode(std::string_view name, ModeControl control, const Arguments& args) {
    static const std::map<std::string_view, int> segments{
        {"locked", 0}, {"manual", 1}, {"auto", 2}, {"continuous", 3}};
    if (args.size() != 1)
        return arity(name, "one mode: locked, manual, auto or continuous");
    auto found = segments.find(args[0]);
    if (found == segments.end())
        return std::string(name) + ": unknown mode " + quoted(args[0]) +
               " (locked, manual, auto or continuous)";
    return TouchMode{control, found->second};
}

Result parseSlider(const Arguments& args) {
    static const std::map<std::string_view, SliderName> sliders{{"focus", SliderName::focus},
                                                                {"bias", SliderName::bias},
                                                                {"duration", SliderName::duration},
                                                                {"iso", SliderName::iso}};
    if (args.size() != 2)
        return arity("slider", "a slider (focus, bias, duration or iso) and a value");
    auto found = sliders.find(args[0]);
    if (found == sliders.end())
        return "slider: unknown slider " + quoted(args[0]) + " (focus, bias, duration or iso)";
    auto value = number(args[1]);
    if (!value)
        return "slider: " + quoted(args[1]) + " is not a number";
    if (std::fabs(*value) > largestSliderMagnitude)
        return "slider: " + quoted(args[1]) + " is out of range";
    return DragSlider{found->second, *value};
}

Result parsePngFile(std::string_view name, const Arguments& args, bool snapshot) {
    if (args.size() != 1)
        return arity(name, "one file name ending in .png");
    if (!endsWith(args[0], ".png") || args[0].size() == 4)
        return std::string(name) + ": " + quoted(args[0]) + " must be a file name ending in .png";
    if (snapshot)
        return Snapshot{std::string(args[0])};
    return Capture{std::string(args[0])};
}

// A command of one word alone.
template <typename Bare> Result parseBare(std::string_view name, const Arguments& args) {
    if (!args.empty())
        return std::string(name) + " takes nothing after it, not " + quoted(args[0]);
    return Bare{};
}

Result parseSwipe(std::string_view name, const Arguments& args) {
    if (args.size() != 1)
        return arity(name, "one direction: left or right");
    if (args[0] == "left")
        return Swipe{UISwipeGestureRecognizerDirection::left};
    if (args[0] == "right")
        return Swipe{UISwipeGestureRecognizerDirection::right};
    return "swipe: unknown direction " + quoted(args[0]) + " (left or right)";
}

Result parsePinch(std::string_view name, const Arguments& args) {
    if (args.size() != 1)
        return arity(name, "one scale, such as 2 or 0.5");
    auto scale = number(args[0]);
    if (!scale)
        return "pinch: " + quoted(args[0]) + " is not a number";
    if (*scale < smallestPinch || *scale > largestPinch)
        return "pinch: the scale must be between 0.01 and 100, not " + quoted(args[0]);
    return Pinch{*scale};
}

Result parsePressure(std::string_view name, const Arguments& args) {
    if (args.size() != 1)
        return arity(name, "one level, such as nominal or serious");
    if (args[0].size() > 64)
        return "pressure: the level is too long";
    return Pressure{std::string(args[0])};
}

// A command of one word out of two: `first` or `second` makes `make(true)` or `make(false)`.
template <typename Make>
Result parseChoice(std::string_view name, const Arguments& args, std::string_view first,
                   std::string_view second, Make make) {
    if (args.size() == 1 && (args[0] == first || args[0] == second))
        return make(args[0] == first);
    const std::string choices = std::string(first) + " or " + std::string(second);
    if (args.size() != 1)
        return arity(name, choices);
    return std::string(name) + ": unknown choice " + quoted(args[0]) + " (" + choices + ")";
}

// A parser of the assists' or the camera controls' own, whose results become commands.
template <auto parse> Result parseDelegated(std::string_view name, const Arguments& args) {
    auto parsed = parse(name, args);
    if (!parsed)
        return "unknown command " + quoted(name);
    if (auto* problem = std::get_if<std::string>(&*parsed))
        return *problem;
    return Command(std::get<0>(*parsed));
}

using CommandParser = Result (*)(std::string_view name, const Arguments& args);

// Every command, by its first word.
const std::pair<std::string_view, CommandParser> commandParsers[] = {
    {"wait", [](std::string_view, const Arguments& args) { return parseWait(args); }},
    {"swipe", parseSwipe},
    {"tap", parseBare<Tap>},
    {"doubletap", parseBare<DoubleTap>},
    {"pinch", parsePinch},
    {"focus",
     [](std::string_view name, const Arguments& args) { return parseMode(name, ModeControl::focus, args); }},
    {"exposure", [](std::string_view name,
                    const Arguments& args) { return parseMode(name, ModeControl::exposure, args); }},
    {"slider", [](std::string_view, const Arguments& args) { return parseSlider(args); }},
    {"pressure", parsePressure},
    {"lock",
     [](std::string_view name, const Arguments& args) {
         return parseChoice(name, args, "refuse", "grant", [](bool refuse) { return Lock{refuse}; });
     }},
    {"output",
     [](std::string_view name, const Arguments& args) {
         return parseChoice(name, args, "on", "off", [](bool on) { return Output{on}; });
     }},
    {"disappear", parseBare<Disappear>},
    {"appear", parseBare<Appear>},
    {"snapshot", [](std::string_view name, const Arguments& args) { return parsePngFile(name, args, true); }},
    {"capture", [](std::string_view name, const Arguments& args) { return parsePngFile(name, args, false); }},
    {"shutter", parseBare<Shutter>},
    {"record",
     [](std::string_view name, const Arguments& args) {
         return parseChoice(name, args, "start", "stop", [](bool start) { return Record{start}; });
     }},
    {"print-ui", parseBare<PrintUi>},
    {"quit", parseBare<Quit>},
    {"histogram", parseDelegated<parseAssistCommand>},
    {"waveform", parseDelegated<parseAssistCommand>},
    {"peaking", parseDelegated<parseAssistCommand>},
    {"zebra", parseDelegated<parseAssistCommand>},
    {"control", parseDelegated<parseControlCommand>},
};

Result parseCommand(std::string_view name, const Arguments& args) {
    for (const auto& [command, parse] : commandParsers)
        if (command == name)
            return parse(name, args);
    return "unknown command " + quoted(name);
}

} // namespace

std::vector<std::string_view> commandNames() {
    std::vector<std::string_view> names;
    for (const auto& entry : commandParsers)
        names.push_back(entry.first);
    return names;
}

std::string ParseError::describe() const {
    return "script:" + std::to_string(line) + ": " + message;
}

std::variant<Script, ParseError> parseScript(std::string_view text) {
    Script script;
    int lineNumber = 0;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        auto tokens = words(line);
        if (tokens.empty())
            continue;
        Arguments args(tokens.begin() + 1, tokens.end());
        Result result = parseCommand(tokens[0], args);
        if (auto* problem = std::get_if<std::string>(&result))
            return ParseError{lineNumber, *problem};
        script.steps.push_back(Step{lineNumber, std::get<Command>(std::move(result))});
    }
    return script;
}

const char* controlIdentifier(ModeControl control) {
    return control == ModeControl::focus ? "focusModeControl" : "exposureModeControl";
}

const char* sliderIdentifier(SliderName slider) {
    switch (slider) {
    case SliderName::focus:
        return "focusSlider";
    case SliderName::bias:
        return "exposureBiasSlider";
    case SliderName::duration:
        return "durationSlider";
    case SliderName::iso:
        return "isoSlider";
    }
    return "";
}

} // namespace host::script
