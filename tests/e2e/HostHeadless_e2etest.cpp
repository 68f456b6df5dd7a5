// The program run headless as a script drives it: what it prints where, how it ends, and
// the pictures it leaves.
#include <gtest/gtest.h>

#include <cstdio>

#include "HostE2eSupport.h"

namespace {

using e2e::runProgram;

// Each refusal ends the run with its status and one line before the screen starts: a bad
// option (the parser's own test has them all), a script that cannot be read or has a bad
// line (the second holds a NUL byte: the file is read whole, not as C text), one without
// end or too long, an output folder that cannot be made.
TEST(HeadlessRun, UnusableArgumentsAndScriptsAreOneLineOnStandardErrorBeforeAnythingRuns) {
    auto folder = e2e::scratchFolder("usage");
    std::ofstream(folder / "a-file") << "in the way";
    std::filesystem::create_directories(folder / "scripts");
    const std::string good = "wait 10 frames\n# fine so far\ncapture first.png\n";
    std::ofstream(folder / "bad.fhs") << good << "swipe sideways\n";
    std::ofstream(folder / "nul.fhs") << good << std::string("tap\0\n", 5);
    std::ofstream many(folder / "many.fhs");
    for (int i = 0; i < 10001; ++i)
        many << "wait 1ms\n";
    many.close();
    struct Case {
        e2e::Lines args;
        int status;
        std::string start;
    };
    const Case cases[] = {
        {{"--frobnicate"}, 2, "fernhold: "},
        {{"--size", "4000x3000", "--camera", "/dev/video9"}, 2, "fernhold: --size '4000x3000'"},
        {{"--script", "missing.fhs"}, 2, "fernhold: cannot read script "},
        {{"--headless", "--script", "bad.fhs"},
         2,
         "script:4: swipe: unknown direction 'sideways' (left or right)\n"},
        {{"--headless", "--script", "nul.fhs"}, 2, "script:4: "},
        {{"--headless", "--seconds", "5", "--script", (folder / "scripts").string()},
         2,
         "fernhold: cannot read script "},
        {{"--headless", "--script", "/dev/zero"}, 2, "fernhold: script '/dev/zero' is longer than 1 MiB"},
        {{"--headless", "--script", "many.fhs"}, 2, "fernhold: script 'many.fhs' has more than 10000 lines"},
        {{"--headless", "--seconds", "1", "--out", (folder / "a-file" / "sub").string()},
         1,
         "fernhold: cannot create the output folder "},
        {{"--headless", "--seconds", "1", "--out", "/proc/fernhold-out"},
         1,
         "fernhold: cannot create the output folder "},
    };
    for (const auto& c : cases) {
        auto run = runProgram(folder, c.args);
        EXPECT_FALSE(std::filesystem::exists(folder / "first.png"));
        EXPECT_EQ(run.status, c.status) << c.args.back();
        EXPECT_TRUE(run.out.empty()) << "the camera screen never started: " << run.out;
        ASSERT_EQ(run.errLines.size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind(c.start, 0), 0u) << run.err;
    }
    // A byte-order mark, as some editors write one, is not read as part of the first line.
    std::ofstream(folder / "bom.fhs") << "\xEF\xBB\xBFwait 2 frames\nprint-ui\n";
    auto marked = runProgram(folder, {"--headless", "--script", "bom.fhs"});
    EXPECT_EQ(marked.status, 0) << marked.err;
    EXPECT_EQ(marked.uiLines().size(), 1u) << marked.err;
    // Asked for, help and the version are the output of their own run, on standard output.
    auto help = runProgram(folder, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.err.empty()) << help.err;
    EXPECT_NE(help.out.find("--script"), std::string::npos);
    auto version = runProgram(folder, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("fernhold ", 0), 0u) << version.out;
}

TEST(HeadlessRun, AScriptOnStandardInputWorksTheScreenAsAPersonWould) {
    auto folder = e2e::scratchFolder("session");
    const std::string script = R"(wait 15 frames
print-ui
snapshot shots/hidden.png
focus manual
doubletap
wait 300ms
swipe right
swipe right
wait 10 frames
focus manual
slider focus 0.75
pinch 2
wait 15 frames
print-ui
snapshot shots/controls.png
capture shots/frame.png
quit
print-ui
)";
    auto run = runProgram(folder, {"--headless", "--script", "-", "--out", "results"}, script);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& line : run.outLines) // that stream is the system's
        for (const char* ours : {"{", "fernhold:", "script:", "stats:", "run:"})
            EXPECT_FALSE(line.starts_with(ours)) << line;
    EXPECT_FALSE(run.out.empty()) << "the application prints its own lines";

    // Controls are hidden at first: the touch on the mode control does nothing.
    EXPECT_NE(run.err.find("script:4: focusModeControl is hidden; the touch does nothing"), std::string::npos)
        << run.err;
    auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 2u) << "nothing runs after quit:\n" << run.err;
    EXPECT_NE(ui[0].find("\"hideControls\":true"), std::string::npos) << ui[0];
    EXPECT_EQ(e2e::uiNumber(ui[0], "selectedFilterIndex"), 0);
    EXPECT_NE(ui[1].find("\"hideControls\":false"), std::string::npos) << ui[1];
    EXPECT_EQ(e2e::uiNumber(ui[1], "selectedFilterIndex"), 2);
    EXPECT_NE(ui[1].find("\"focusModeControl\":{\"selectedSegmentIndex\":1"), std::string::npos) << ui[1];
    EXPECT_NE(ui[1].find("\"focusSlider\":{\"minimum\":0,\"maximum\":1,\"value\":0.75,"), std::string::npos)
        << "the drag along the slider: " << ui[1];
    EXPECT_EQ(ui[1].find("\"zoomLabel\":{\"text\":\"\""), std::string::npos) << "the pinch zoomed: " << ui[1];

    // The capture is the processed picture alone; the snapshots are the whole screen.
    auto frame = e2e::readPng(folder / "results/shots/frame.png");
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    auto hidden = e2e::readPng(folder / "results/shots/hidden.png");
    auto controls = e2e::readPng(folder / "results/shots/controls.png");
    ASSERT_FALSE(hidden.rgba.empty());
    ASSERT_FALSE(controls.rgba.empty());
    EXPECT_EQ(controls.width, 2560);
    EXPECT_EQ(controls.height, 1440);
    EXPECT_LT(hidden.count(e2e::accent), 100u) << "no slider is drawn while the controls are hidden";
    EXPECT_GT(controls.count(e2e::accent), 1000u) << "the slider tracks are drawn once they are shown";
    const unsigned char* corner = &controls.rgba[(2 * 2560 + 2) * 4];
    EXPECT_EQ(corner[0] + corner[1] + corner[2], 0) << "the screen behind the views is black";
    EXPECT_EQ(corner[3], 255);
}

// The picture goes to the screen without leaving the GPU: pixels are read back only for
// the pictures a run takes, and never more than once a frame.
TEST(HeadlessRun, FramesAreReadBackOnlyForThePicturesTaken) {
    auto folder = e2e::scratchFolder("readback");
    auto quiet = runProgram(folder, {"--headless", "--stats", "--seconds", "2.5"});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    size_t perSecond = 0;
    for (const auto& line : quiet.errLines)
        if (line.starts_with("stats: produced")) {
            ++perSecond;
            EXPECT_TRUE(line.ends_with(", read back 0 frames")) << line;
        }
    EXPECT_GE(perSecond, 2u) << quiet.err;
    EXPECT_NE(quiet.err.find("stats: final presented "), std::string::npos) << quiet.err;
    EXPECT_NE(quiet.err.find(", read back 0, camera "), std::string::npos) << quiet.err;

    std::string text = "wait 5 frames\n";
    for (int i = 0; i < 12; ++i)
        text += "capture c" + std::to_string(i) + ".png\nshutter\n";
    auto busy = runProgram(folder, {"--headless", "--stats", "--script", e2e::writeScript(folder, text),
                                    "--out", "out", "--photos", "out"});
    ASSERT_EQ(busy.status, 0) << busy.err;
    const size_t at = busy.err.find("stats: final presented ");
    ASSERT_NE(at, std::string::npos) << busy.err;
    unsigned long long presented = 0, readBack = 0;
    ASSERT_EQ(std::sscanf(busy.err.c_str() + at, "stats: final presented %llu, read back %llu", &presented,
                          &readBack),
              2)
        << busy.err;
    EXPECT_GE(readBack, 1u) << busy.err;
    EXPECT_LE(readBack, presented) << "24 pictures, at most one read-back a frame:\n" << busy.err;
}

} // namespace
