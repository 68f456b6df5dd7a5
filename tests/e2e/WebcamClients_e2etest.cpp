// Other V4L2 programs against the emulated webcam: if v4l2-ctl, GStreamer and ffmpeg accept
// it, the emulator answers as the kernel's V4L2 ABI does, not only as our own code expects.
// `make test` installs them (scripts/setup.sh test).
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/HostE2eSupport.h"
#include "support/EmulatedWebcam.h"

namespace {
using webcamtest::EmulatedWebcam;
namespace fs = std::filesystem;

// Runs `command` (a client and its arguments) under the emulator: its status and what it
// wrote, standard error included. Leaks inside the clients are not ours to report in a
// sanitizer build.
std::pair<int, std::string> runClient(const EmulatedWebcam& webcam, const std::string& command) {
    return webcam.run("ASAN_OPTIONS=detect_leaks=0 " + command + " 2>&1");
}

// A program that is not installed is left out; with none, the test is skipped.
TEST(WebcamClients, V4l2CtlGStreamerAndFfmpegReadAndStreamTheCamera) {
    const bool v4l2ctl = e2e::installed("v4l2-ctl"), gstreamer = e2e::installed("gst-launch-1.0"),
               ffmpeg = e2e::installed("ffmpeg");
    if (!v4l2ctl && !gstreamer && !ffmpeg)
        GTEST_SKIP() << "none of v4l2-ctl (v4l-utils), GStreamer's gst-launch-1.0 and ffmpeg is installed";
    EmulatedWebcam webcam;
    webcam.ctl("create video0 --formats MJPG,YUYV");
    capturetest::TempDirectory out;
    if (v4l2ctl) {
        auto [status, all] = runClient(webcam, "v4l2-ctl -d /dev/video0 --all --list-formats-ext");
        ASSERT_EQ(status, 0) << all;
        for (const char* shown : {"Fernhold Emulated Webcam", "Width/Height      : 640/480",
                                  "exposure_time_absolute", "'MJPG'", "'YUYV'"})
            EXPECT_NE(all.find(shown), std::string::npos) << all;
        const auto file = out.path() / "stream.raw";
        auto [streamed, says] = runClient(webcam, "v4l2-ctl -d /dev/video0 --set-fmt-video=pixelformat=YUYV "
                                                  "--stream-mmap --stream-count=10 --stream-to=" +
                                                      file.string());
        ASSERT_EQ(streamed, 0) << says;
        EXPECT_EQ(fs::file_size(file), 10u * 640 * 480 * 2) << "ten whole YUYV frames";
    }
    const std::pair<bool, std::string> clients[] = {
        {gstreamer, "gst-launch-1.0 -q v4l2src device=/dev/video0 num-buffers=5 "
                    "! image/jpeg,width=640,height=480 ! multifilesink location="},
        {ffmpeg, "ffmpeg -nostdin -loglevel error -f v4l2 -input_format mjpeg -video_size 640x480 "
                 "-i /dev/video0 -frames:v 5 -c copy "}};
    for (const auto& [present, command] : clients) {
        const auto folder = out.path() / command.substr(0, 6);
        if (!present || !fs::create_directory(folder))
            continue;
        auto [status, says] = runClient(webcam, command + (folder / "f%02d.jpg").string());
        EXPECT_EQ(status, 0) << command << says;
        int pictures = 0; // the files it wrote that decode as pictures
        for (const auto& entry : fs::directory_iterator(folder))
            pictures += !e2e::readPng(entry.path()).rgba.empty();
        EXPECT_EQ(pictures, 5) << command;
    }
}

} // namespace
