// The processed picture written to an emulated v4l2loopback node (--output), read by
// programs we did not write, and the node's faults as the program reports them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "e2e/HostE2eSupport.h"
#include "support/EmulatedWebcam.h"
#include "support/PictureBytes.h"

namespace {
using e2e::Lines;
using webcamtest::EmulatedWebcam;
namespace fs = std::filesystem;
constexpr int width = 640, height = 480;

Lines emulatedEnvironment(const EmulatedWebcam& webcam) {
    const Lines environment =
        e2e::noDisplayAnd({"FERNHOLD_EMULATED_DEV=" + webcam.dir(), "LD_PRELOAD=" EMULATED_WEBCAM_PRELOAD});
    return environment;
}

// A smooth picture, so that sharing chroma between two pixels changes it little.
std::string writeStill(const fs::path& folder) {
    pictures::Bytes rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgb[i] = uint8_t(i / 3 % width * 255 / width), rgb[i + 1] = uint8_t(i / 3 / width * 255 / height),
        rgb[i + 2] = 96;
    const auto png = pictures::encodePng(width, height, rgb);
    std::ofstream(folder / "still.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    return (folder / "still.png").string();
}

// The mean difference of a YUYV frame (BT.601, limited range) from an RGBA picture, and the
// share of values off by more than 8 (at a sharp edge, such as an outline, two pixels'
// shared chroma is far from either's).
std::pair<double, double> differenceFrom(const std::string& yuyv, const e2e::Picture& shown) {
    double sum = 0;
    size_t far = 0;
    for (size_t pixel = 0; pixel < shown.rgba.size() / 4; ++pixel) {
        const auto byte = [&](size_t i) { return double(uint8_t(yuyv[pixel / 2 * 4 + i])); };
        const double y = 1.164 * (byte(pixel % 2 * 2) - 16), u = byte(1) - 128, v = byte(3) - 128;
        const double rgb[3] = {y + 1.596 * v, y - 0.392 * u - 0.813 * v, y + 2.017 * u};
        for (size_t c = 0; c < 3; ++c) {
            const int d =
                std::abs(int(std::lround(std::clamp(rgb[c], 0.0, 255.0))) - shown.rgba[pixel * 4 + c]);
            sum += d, far += d > 8;
        }
    }
    const double values = double(shown.rgba.size() / 4 * 3);
    return {sum / values, double(far) / values};
}

// While the program writes, ffmpeg and GStreamer each read 30 frames as a webcam's; the
// last matches the program's capture of the same (still) picture.
TEST(Loopback, FfmpegAndGStreamerReadTheShownPictureWhileItRuns) {
    const bool ffmpeg = e2e::installed("ffmpeg"), gstreamer = e2e::installed("gst-launch-1.0");
    if (!ffmpeg && !gstreamer)
        GTEST_SKIP() << "neither ffmpeg nor GStreamer's gst-launch-1.0 is installed";
    EmulatedWebcam webcam;
    webcam.ctl("create video0 --loopback --exclusive-caps");
    webcam.ctl("create video1");
    const auto folder = e2e::scratchFolder("loopback-clients");
    const std::string script =
        e2e::writeScript(folder, "wait 5 frames\ncapture shown.png\nprint-ui\nwait 600s\n");
    e2e::Process program(e2e::programCommand(
        folder, {"--headless", "--camera", writeStill(folder), "--output", "auto", "--script", script},
        emulatedEnvironment(webcam)));
    std::string ui;
    while (ui.empty() && program.pump(std::chrono::seconds(60), [&](const std::string& line) {
        if (line.starts_with("{\""))
            ui = line;
    })) {
    }
    EXPECT_NE(ui.find(R"("output":{"active":true,"device":"/dev/video0"})"), std::string::npos) << ui;
    const e2e::Picture shown = e2e::readPng(folder / "shown.png");
    ASSERT_EQ(shown.width, width);
    const size_t frame = size_t(width) * height * 2;
    const std::pair<bool, std::string> clients[] = {
        {ffmpeg, "ffmpeg -nostdin -f v4l2 -i /dev/video0 -frames:v 30 -c copy -f rawvideo "},
        {gstreamer, "gst-launch-1.0 -q v4l2src device=/dev/video0 num-buffers=30 ! "
                    "video/x-raw,format=YUY2,width=640,height=480 ! filesink location="}};
    for (const auto& [present, command] : clients) {
        const auto file = folder / (command.substr(0, 6) + ".yuv");
        if (!present)
            continue;
        auto [status, says] = webcam.run("ASAN_OPTIONS=detect_leaks=0 " + command + file.string() + " 2>&1");
        ASSERT_EQ(status, 0) << command << says;
        if (command.starts_with("ffmpeg")) {
            EXPECT_NE(says.find("yuyv422, 640x480"), std::string::npos) << says;
        }
        const std::string frames = e2e::slurp(file);
        ASSERT_EQ(frames.size(), 30 * frame) << command;
        const auto [mean, far] = differenceFrom(frames.substr(29 * frame), shown);
        EXPECT_LT(mean, 1.5) << command;
        EXPECT_LT(far, 0.01) << command;
    }
    EXPECT_EQ(program.stop(SIGTERM), 0);
}

// --list-cameras marks the node; a run that names no camera leaves it out; a node that is
// no output, a busy one and one removed while running each get their one line.
TEST(Loopback, TheNodeIsNoCameraAndItsFaultsAreSaidOnce) {
    EmulatedWebcam webcam;
    webcam.ctl("create video0 --loopback");
    webcam.ctl("create video1");
    const auto folder = e2e::scratchFolder("loopback-faults");
    const Lines environment = emulatedEnvironment(webcam);
    auto listed = e2e::runProgram(folder, {"--list-cameras"}, "", environment);
    EXPECT_NE(listed.out.find("/dev/video0  Fernhold  (output, v4l2loopback"), std::string::npos)
        << listed.out;

    auto notOutput = e2e::runProgram(folder, {"--headless", "--output", "/dev/video1"}, "", environment);
    EXPECT_EQ(notOutput.status, 1);
    EXPECT_EQ(notOutput.errLines,
              Lines{"fernhold: '/dev/video1' is not a video output device (a v4l2loopback "
                    "node is; see --list-cameras)"});
    webcam.ctl("busy video0");
    auto busy = e2e::runProgram(folder, {"--headless", "--output", "/dev/video0"}, "", environment);
    EXPECT_EQ(busy.status, 1);
    EXPECT_EQ(busy.errLines,
              Lines{"fernhold: the output '/dev/video0' is busy: another program writes to it"});
    webcam.ctl("idle video0");

    // Writing goes off and on again as the script (or the panel's button) says.
    auto toggled = e2e::runProgram(folder, {"--headless", "--output", "/dev/video0", "--script", "-"},
                                   "wait 3 frames\noutput off\nprint-ui\noutput on\nprint-ui\n", environment);
    ASSERT_EQ(toggled.status, 0) << toggled.err;
    const auto ui = toggled.uiLines();
    ASSERT_EQ(ui.size(), 2u) << toggled.err;
    EXPECT_NE(ui[0].find(R"("output":{"active":false,"device":"/dev/video0"})"), std::string::npos) << ui[0];
    EXPECT_NE(ui[1].find(R"("output":{"active":true,)"), std::string::npos) << ui[1];
    EXPECT_NE(ui[1].find(R"("outputButton":{"hidden":false,)"), std::string::npos) << ui[1];

    int statsSeen = 0;
    auto removed =
        e2e::runProgram(folder, {"--headless", "--stats", "--output", "/dev/video0", "--seconds", "4"}, "",
                        environment, 90, [&](const std::string& line) {
                            if (line.starts_with("stats: produced") && ++statsSeen == 1)
                                webcam.ctl("unplug video0");
                        });
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(std::count_if(removed.errLines.begin(), removed.errLines.end(),
                            [](auto& line) { return line.find("went away") != std::string::npos; }),
              1)
        << removed.err;
    EXPECT_NE(removed.err.find("fernhold: using the webcam /dev/video1"), std::string::npos) << removed.err;
    EXPECT_GE(statsSeen, 3) << "it goes on without the output";
}

// With nobody reading, the program writes every frame it shows and its memory stays put.
TEST(Loopback, NobodyReadingCostsNoRateAndNoMemory) {
    EmulatedWebcam webcam;
    webcam.ctl("create video0 --loopback --exclusive-caps");
    const auto folder = e2e::scratchFolder("loopback-unread");
    Lines environment = emulatedEnvironment(webcam);
    environment.push_back(e2e::smallQuarantine()); // its memory is measured
    e2e::Process program(e2e::programCommand(folder,
                                             {"--headless", "--stats", "--camera", writeStill(folder),
                                              "--output", "/dev/video0", "--seconds", "8"},
                                             environment));
    std::vector<long> resident; // kB, at each stats line
    std::string last, final;
    while (program.pump(std::chrono::seconds(60), [&](const std::string& line) {
        if (line.starts_with("stats: final"))
            final = line;
        if (!line.starts_with("stats: produced"))
            return;
        last = line;
        std::ifstream status("/proc/" + std::to_string(program.pid()) + "/status");
        for (std::string key; status >> key;)
            if (key == "VmRSS:" && status >> key)
                resident.push_back(std::stol(key));
    })) {
    }
    EXPECT_EQ(program.wait(), 0);
    ASSERT_GE(resident.size(), 6u);
    EXPECT_LT(resident.back() - resident[2], 8 * 1024) << "kB grown from the third second to the last";
    EXPECT_NE(last.find("output dropped 0"), std::string::npos) << last;
    // Every frame shown is written: the rate is the program's own, whatever the machine's.
    unsigned long long presented = 0;
    ASSERT_EQ(std::sscanf(final.c_str(), "stats: final presented %llu", &presented), 1) << final;
    EXPECT_GE(presented, 8u * 10) << final;
    EXPECT_GE(std::stoull(webcam.show("video0")["frames"]) + 2, presented) << "frames written; " << final;
}

} // namespace
