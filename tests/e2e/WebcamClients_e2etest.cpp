// Other V4L2 programs against the emulated webcam: if v4l2-ctl, GStreamer and ffmpeg accept
// it, the emulator answers as the kernel's V4L2 ABI does, not only as our own code expects.
// A program that is not installed is skipped (`make test` installs them: scripts/setup.sh test).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/EmulatedWebcam.h"

namespace {
using webcamtest::EmulatedWebcam;
namespace fs = std::filesystem;

struct Output {
    int status = -1;
    std::string text;
};

// Runs `command` (a client and its arguments) under the emulator, standard error included.
Output runClient(const EmulatedWebcam& webcam, const std::string& command) {
    Output out;
    // Leaks inside the clients are not ours to report in a sanitizer build.
    FILE* pipe = popen(
        ("env ASAN_OPTIONS=detect_leaks=0 " + webcam.environment() + " " + command + " 2>&1").c_str(), "r");
    if (!pipe)
        return out;
    for (int c; (c = fgetc(pipe)) != EOF;)
        out.text += char(c);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

bool installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The files a client wrote into `folder` that open as JPEG pictures (SOI marker first).
int jpegFilesIn(const fs::path& folder) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        unsigned char soi[2] = {};
        file.read(reinterpret_cast<char*>(soi), 2);
        count += soi[0] == 0xFF && soi[1] == 0xD8;
    }
    return count;
}

class WebcamClients : public ::testing::Test {
  protected:
    void SetUp() override { webcam.ctl("create video0 --formats mjpeg,yuyv"); }
    EmulatedWebcam webcam;
    capturetest::TempDirectory out;
};

TEST_F(WebcamClients, V4l2CtlReadsTheCameraAndStreamsFromIt) {
    if (!installed("v4l2-ctl"))
        GTEST_SKIP() << "v4l2-ctl (v4l-utils) is not installed";
    auto all = runClient(webcam, "v4l2-ctl -d /dev/video0 --all");
    ASSERT_EQ(all.status, 0) << all.text;
    EXPECT_NE(all.text.find("Fernhold Emulated Webcam"), std::string::npos) << all.text;
    EXPECT_NE(all.text.find("Width/Height      : 640/480"), std::string::npos) << all.text;
    EXPECT_NE(all.text.find("exposure_time_absolute"), std::string::npos) << all.text;

    auto formats = runClient(webcam, "v4l2-ctl -d /dev/video0 --list-formats-ext");
    EXPECT_NE(formats.text.find("'MJPG'"), std::string::npos) << formats.text;
    EXPECT_NE(formats.text.find("'YUYV'"), std::string::npos) << formats.text;

    const auto file = out.path() / "stream.raw";
    auto stream = runClient(webcam, "v4l2-ctl -d /dev/video0 --set-fmt-video=pixelformat=YUYV "
                                    "--stream-mmap --stream-count=10 --stream-to=" +
                                        file.string());
    ASSERT_EQ(stream.status, 0) << stream.text;
    EXPECT_EQ(fs::file_size(file), 10u * 640 * 480 * 2) << "ten whole YUYV frames";
}

TEST_F(WebcamClients, GStreamerAndFfmpegRecordJpegFrames) {
    if (installed("gst-launch-1.0")) {
        auto gst = runClient(webcam, "gst-launch-1.0 -q v4l2src device=/dev/video0 num-buffers=5 "
                                     "! image/jpeg,width=640,height=480 ! multifilesink location=" +
                                         (out.path() / "gst%02d.jpg").string());
        EXPECT_EQ(gst.status, 0) << gst.text;
        EXPECT_EQ(jpegFilesIn(out.path()), 5);
    }
    if (installed("ffmpeg")) {
        const auto folder = out.path() / "ffmpeg";
        fs::create_directory(folder);
        auto ffmpeg = runClient(webcam, "ffmpeg -nostdin -loglevel error -f v4l2 -input_format mjpeg "
                                        "-video_size 640x480 -i /dev/video0 -frames:v 5 -c copy " +
                                            (folder / "f%02d.jpg").string());
        EXPECT_EQ(ffmpeg.status, 0) << ffmpeg.text;
        EXPECT_EQ(jpegFilesIn(folder), 5);
    }
    if (!installed("gst-launch-1.0") && !installed("ffmpeg"))
        GTEST_SKIP() << "neither GStreamer's gst-launch-1.0 nor ffmpeg is installed";
}

} // namespace
