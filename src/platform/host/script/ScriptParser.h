#pragma once
// Scripts: a person's session written down, one command per line, checked whole before
// anything runs so a typo on line 40 never leaves a run half done.
//
//   wait 500ms | wait 2s | wait 30 frames
//   swipe left|right      tap      doubletap      pinch SCALE
//   focus locked|manual|auto|continuous      exposure locked|manual|auto|continuous
//   slider focus|bias|duration|iso VALUE
//   pressure LEVEL        lock refuse|grant       disappear      appear
//   snapshot FILE.png     capture FILE.png        shutter        print-ui       quit
//   record start|stop
//   histogram on|off|rgb  waveform on|off  zebra off|PERCENT  peaking on|off
//   output on|off
//   control NAME VALUE
//
// `#` starts a comment; blank lines are ignored.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/script/AssistCommands.h"
#include "host/script/ControlCommands.h"
#include "ui/UIGestureRecognizer.h"

namespace host::script {

enum class ModeControl { focus, exposure };
enum class SliderName { focus, bias, duration, iso };

struct Wait {
    std::chrono::milliseconds duration;
};
struct WaitFrames {
    uint64_t frames;
};
struct Swipe {
    UISwipeGestureRecognizerDirection direction;
};
struct Tap {};
struct DoubleTap {};
struct Pinch {
    double scale;
};
struct TouchMode {
    ModeControl control;
    int segment; // locked 0, manual 1, auto 2, continuous 3: the controls' segment order
};
struct DragSlider {
    SliderName slider;
    double value;
};
struct Pressure {
    std::string level;
};
struct Lock {
    bool refuse;
};
struct Disappear {};
struct Appear {};
struct Snapshot {
    std::string file;
};
struct Capture {
    std::string file;
};
// A photo into the photo folder, as the window's shutter takes it.
struct Shutter {};
// A recording into the video folder, as the window's record button starts and stops it.
struct Record {
    bool start;
};
struct PrintUi {};
// Writing to the --output node on or off.
struct Output {
    bool on;
};
struct Quit {};

using Command = std::variant<Wait, WaitFrames, Swipe, Tap, DoubleTap, Pinch, TouchMode, DragSlider, Pressure,
                             Lock, Disappear, Appear, Snapshot, Capture, Shutter, PrintUi, Quit, SetAssist,
                             Output, SetControl, Record>;

struct Step {
    int line; // 1-based, for messages while it runs
    Command command;
};

struct Script {
    std::vector<Step> steps;
};

struct ParseError {
    int line;
    std::string message;
    // "script:LINE: message", the line shown to a person.
    std::string describe() const;
};

// The first word of every command a script may hold.
std::vector<std::string_view> commandNames();

std::variant<Script, ParseError> parseScript(std::string_view text);

// The limits a command's value must respect.
inline constexpr std::chrono::milliseconds longestWait = std::chrono::hours(1);
inline constexpr uint64_t mostFrames = 10'000'000;
inline constexpr double smallestPinch = 0.01, largestPinch = 100;
inline constexpr double largestSliderMagnitude = 1e6;

// The identifier of the view a command touches ("focusModeControl", "isoSlider", ...).
const char* controlIdentifier(ModeControl control);
const char* sliderIdentifier(SliderName slider);

} // namespace host::script
