// Scripts: the commands' values in their edge forms (that each kind of command does what
// it says is the end-to-end and soak runs' to show), and every way of getting one wrong
// caught before anything runs, with the line it is on.
#include <gtest/gtest.h>

#include "host/script/ScriptParser.h"

namespace {

using namespace host::script;
using namespace std::chrono_literals;

Script parsed(std::string_view text) {
    auto result = parseScript(text);
    if (auto* error = std::get_if<ParseError>(&result))
        ADD_FAILURE() << error->describe();
    return std::holds_alternative<Script>(result) ? std::get<Script>(result) : Script{};
}

Command only(std::string_view line) {
    auto script = parsed(line);
    EXPECT_EQ(script.steps.size(), 1u) << line;
    return script.steps.empty() ? Command{Quit{}} : script.steps.front().command;
}

ParseError rejected(std::string_view text) {
    auto result = parseScript(text);
    if (!std::holds_alternative<ParseError>(result)) {
        ADD_FAILURE() << "accepted: " << text.substr(0, 60);
        return {};
    }
    return std::get<ParseError>(result);
}

TEST(ScriptParser, ReadsEveryCommandInItsGoodForms) {
    EXPECT_EQ(std::get<Wait>(only("wait 500ms")).duration, 500ms);
    EXPECT_EQ(std::get<Wait>(only("wait 1.5 s")).duration, 1500ms);
    EXPECT_EQ(std::get<Wait>(only("wait 3600s")).duration, 3600000ms);
    EXPECT_EQ(std::get<WaitFrames>(only("wait 1 frame")).frames, 1u);
    EXPECT_EQ(std::get<WaitFrames>(only("wait 10000000 frames")).frames, 10000000u);
    EXPECT_EQ(std::get<Swipe>(only("swipe left")).direction, UISwipeGestureRecognizerDirection::left);
    EXPECT_EQ(std::get<Pinch>(only("pinch 0.01")).scale, 0.01);
    EXPECT_EQ(std::get<Pinch>(only("pinch 100")).scale, 100);
    int segment = 0;
    for (auto mode : {"locked", "manual", "auto", "continuous"}) {
        auto exposure = std::get<TouchMode>(only(std::string("exposure ") + mode));
        EXPECT_EQ(exposure.control, ModeControl::exposure);
        EXPECT_EQ(exposure.segment, segment++);
    }
    auto slider = std::get<DragSlider>(only("slider iso -0.25"));
    EXPECT_EQ(slider.slider, SliderName::iso);
    EXPECT_EQ(slider.value, -0.25);
    EXPECT_STREQ(sliderIdentifier(SliderName::bias), "exposureBiasSlider");
    EXPECT_EQ(std::get<Pressure>(only("pressure made-up")).level, "made-up");
    EXPECT_TRUE(std::get<Lock>(only("lock refuse")).refuse);
    EXPECT_EQ(std::get<Capture>(only("capture frame.png")).file, "frame.png");
    EXPECT_TRUE(std::holds_alternative<Shutter>(only("shutter")));
}

TEST(ScriptParser, SkipsCommentsAndBlankLinesButCountsThem) {
    auto script = parsed("# a demo\r\n\n   \ttap   # touch it\r\nwait 1s\n\nquit");
    ASSERT_EQ(script.steps.size(), 3u);
    EXPECT_EQ(script.steps[0].line, 3);
    EXPECT_EQ(script.steps[1].line, 4);
    EXPECT_EQ(script.steps[2].line, 6);
    EXPECT_TRUE(parsed("# nothing\n\n").steps.empty());
}

TEST(ScriptParser, RejectsEveryWrongLine) {
    // clang-format off
    const std::vector<std::string> lines{
        "wait", "wait 5", "wait ms", "wait 5 minutes", "wait -1s", "wait 0ms", "wait 0 frames",
        "wait 1.5 frames",
        "wait 0.4ms", "wait 3601s", "wait 10000001 frames", "wait 1e300s", "wait 1e999ms", "wait nan s",
        "wait 2 s extra", "wait 1x0s", "wait 2 fortnights", "wait\x01" "5s",
        "swipe", "swipe up", "swipe left right", "swipe LEFT", "tap now", "doubletap 2",
        "pinch", "pinch 0", "pinch 0.009", "pinch 100.5", "pinch -2", "pinch big", "pinch inf", "pinch 1e400",
        "focus", "focus fixed", "focus Manual", "exposure manual now", "exposure 1",
        "slider", "slider iso", "slider zoom 1", "slider iso x", "slider iso 1e7", "slider focus -1000001",
        "slider bias nan", "slider iso 0.5 0.6",
        "pressure", "pressure high now", "pressure " + std::string(65, 'x'),
        "lock", "lock maybe", "lock refuse grant", "lock REFUSE", "disappear now", "appear 1",
        "snapshot", "snapshot a.jpg", "snapshot .png", "snapshot a.png b.png", "snapshot shot.PNG",
        "capture", "capture frame", "capture .png", "capture a.png b.png", "print-ui all", "shutter now", "quit now",
        "jump", "Tap", std::string("tap\0", 4), "\xff\xfe", "tap\rswipe left", std::string(1 << 20, 'w'),
    };
    // clang-format on
    for (const auto& line : lines) {
        // Two good lines first: the error names the third.
        auto error = rejected("wait 1 frames\n# fine so far\n" + line + "\nquit\n");
        EXPECT_EQ(error.line, 3) << line.substr(0, 60);
        EXPECT_LT(error.describe().size(), 200u) << "an echoed word is cut short";
    }
}

TEST(ScriptParser, SaysWhatIsWrongWithoutEchoingControlBytes) {
    EXPECT_EQ(rejected("tap\n# fine\n\nswipe up\nquit\n").describe(),
              "script:4: swipe: unknown direction 'up' (left or right)");
    EXPECT_EQ(rejected("tap\njump").describe(), "script:2: unknown command 'jump'");
    EXPECT_NE(rejected("wait 2h").message.find("'h'"), std::string::npos);
    EXPECT_NE(rejected("wait 2 hours").message.find("unit"), std::string::npos);
    EXPECT_NE(rejected("wait 7200s").message.find("1 hour"), std::string::npos);
    EXPECT_NE(rejected("capture frame.jpg").message.find(".png"), std::string::npos);
    EXPECT_NE(rejected("pressure " + std::string(65, 'x')).message.find("too long"), std::string::npos);
    const std::string message = rejected("sw\x1b[2Jipe\x07").message;
    EXPECT_EQ(message.find_first_of("\x1b\x07"), std::string::npos) << message;
    EXPECT_NE(message.find("sw\\x1B[2Jipe\\x07"), std::string::npos) << message;
}

} // namespace

TEST(ScriptParser, AssistCommandsAndTheirRefusals) {
    auto histogram = std::get<SetAssist>(only("histogram rgb"));
    EXPECT_TRUE(histogram.on && histogram.colour && histogram.assist == AssistName::histogram);
    EXPECT_FALSE(std::get<SetAssist>(only("waveform off")).on);
    EXPECT_TRUE(std::get<SetAssist>(only("peaking on")).on);
    auto zebra = std::get<SetAssist>(only("zebra 50"));
    EXPECT_TRUE(zebra.on && zebra.zebraPercent == 50);
    EXPECT_EQ(std::get<SetAssist>(only("zebra 100")).zebraPercent, 100);
    EXPECT_FALSE(std::get<SetAssist>(only("zebra off")).on);
    for (const char* bad : {"histogram", "histogram yes", "waveform rgb", "peaking on off", "zebra 49",
                            "zebra 101", "zebra 95.5", "zebra on", "zebra"})
        EXPECT_EQ(rejected(std::string("wait 1 frame\n") + bad + "\n").line, 2) << bad;
    EXPECT_EQ(rejected("zebra 120").describe(),
              "script:1: zebra: the level must be off or a whole percent from 50 "
              "to 100, not '120'");
}
