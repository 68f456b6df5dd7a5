// The real program against an emulated UVC webcam: the real libv4l2 and the kernel's V4L2
// ABI, with the camera listed, moved, throttled, unplugged and broken from outside.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>

#include "e2e/HostE2eSupport.h"
#include "support/EmulatedWebcam.h"

namespace {
using namespace std::string_literals;
using e2e::Lines;
using webcamtest::EmulatedWebcam;

Lines emulatedEnvironment(const EmulatedWebcam& webcam) {
    const Lines environment =
        e2e::noDisplayAnd({"FERNHOLD_EMULATED_DEV=" + webcam.dir(), "LD_PRELOAD=" EMULATED_WEBCAM_PRELOAD});
    return environment;
}

// A view's member in a print-ui line, as written there ("text", true…).

// udev's stable link to the default emulated camera.
constexpr const char* byId = "/dev/v4l/by-id/usb-Fernhold_Emulated_Webcam_usb-emulated-1-video-index0";

// Runs the program on `camera` with `script`; `onUi(n)` runs (with the program waiting in
// its script) when the n-th print-ui line arrives.
e2e::Run runOnWebcam(const EmulatedWebcam& webcam, const std::string& name, const std::string& script,
                     const std::function<void(int)>& onUi = nullptr,
                     const std::string& camera = "/dev/video0") {
    auto folder = e2e::scratchFolder(name);
    Lines args{"--camera", camera, "--headless", "--stats", "--script", e2e::writeScript(folder, script)};
    int seen = 0;
    return e2e::runProgram(folder, args, "", emulatedEnvironment(webcam), 90, [&](const std::string& line) {
        if (line.rfind("{\"", 0) == 0 && onUi)
            onUi(++seen);
    });
}

TEST(Webcam, ListsCaptureNodesWithTheirModesAndLeavesOthersOut) {
    EmulatedWebcam webcam;
    auto folder = e2e::scratchFolder("list");
    auto empty = e2e::runProgram(folder, {"--list-cameras"}, "", emulatedEnvironment(webcam));
    EXPECT_EQ(empty.status, 0);
    EXPECT_NE(empty.out.find("No cameras found"), std::string::npos) << empty.out;

    webcam.ctl("create video0");
    webcam.ctl("create video1 --metadata");
    webcam.ctl("create video2 --stepwise --bus usb-emulated-2");
    auto listed = e2e::runProgram(folder, {"--list-cameras"}, "", emulatedEnvironment(webcam));
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.find("/dev/video1"), std::string::npos) << "a metadata node is no camera:\n"
                                                                 << listed.out;
    // A range of sizes gives the smallest on its steps that covers 640 x 480, and its largest.
    for (const std::string& shown :
         {"/dev/video0  Fernhold Emulated Webcam  usb-emulated-1\n    "s + byId, "MJPG   1920x1080   30, 15"s,
          "YUYV    640x480    30"s, "YUYV    704x528    29.97, 29.5, 5 fps\n    YUYV   1280x960 "s})
        EXPECT_NE(listed.out.find(shown), std::string::npos) << listed.out;
}

// A control's key in the camera's state as `show` gives it.
std::string key(uint32_t id) {
    char key[16];
    return std::snprintf(key, sizeof key, "0x%08x", id), key;
}

// The controls, and at the end the throttle, which a camera that takes a frame interval takes.
// The latency starts when the driver says the camera began to take a frame (a frame's
// duration before it was read, no later), not when the frame was read.
TEST(Webcam, ControlsAndTheThrottleMoveTheCameraAndAnotherProgramsChangesReachTheReadouts) {
    EmulatedWebcam webcam;
    webcam.ctl("create video0 --formats MJPG");
    std::map<std::string, std::string> atStart, afterScript; // the camera's state
    auto run =
        runOnWebcam(webcam, "controls",
                    "wait 1s\nprint-ui\nwait 1s\ndoubletap\npinch 2.0\nexposure locked\nwait "
                    "1s\nprint-ui\nwait 1500ms\nprint-ui\npressure serious\nwait 1500ms\n",
                    [&](int n) {
                        if (n <= 2)
                            (n == 1 ? atStart : afterScript) = webcam.show("video0");
                        if (n == 2)
                            webcam.ctl("set video0 " + std::to_string(V4L2_CID_ZOOM_ABSOLUTE) + " 300");
                    });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GE(std::stod(run.err.substr(run.err.find("latency median ") + 15)), 1000.0 / 30) << run.err;
    // Start-up locks the lens at 0.3: focus range 0…250 reversed, in steps of 5.
    EXPECT_EQ(atStart[key(V4L2_CID_FOCUS_AUTO)], "0");
    EXPECT_EQ(atStart[key(V4L2_CID_FOCUS_ABSOLUTE)], "175");
    EXPECT_EQ(atStart[key(V4L2_CID_EXPOSURE_AUTO)], "3");                     // aperture priority: continuous
    EXPECT_EQ(afterScript[key(V4L2_CID_EXPOSURE_AUTO)], "1");                 // locked is manual
    EXPECT_NEAR(std::stoi(afterScript[key(V4L2_CID_ZOOM_ABSOLUTE)]), 200, 5); // 100 is 1×
    auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 3u) << run.err;
    EXPECT_EQ(e2e::uiField(ui[0], "focusLabel", "text"), "\"Pos 0.300\"");
    EXPECT_EQ(e2e::uiField(ui[2], "zoomLabel", "text"), "\"3.0×\"") << "another program's change";
    auto shown = webcam.show("video0");
    EXPECT_EQ(shown["format"] + " " + shown["size"] + " " + shown["interval"], "MJPG 640x480 1/5");
    EXPECT_NE(run.out.find("Throttling frame rate."), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("rate set on the camera 1/5 s"), std::string::npos) << run.err;
    EXPECT_GT(std::stol(shown["frames"]), 40);
    // The MJPEG frames were decoded: the emulated room's bright square is measured.
    EXPECT_GT(std::stol(e2e::uiField(ui[2], "luminosityLabel", "text").substr(1)), 200) << ui[2];
}

// With no --camera the first webcam is used, and said so; without one, the virtual camera.
// A camera whose format falls back to a slower interval is set to the fastest it lists, the
// rate the application is told; a --size it has is the mode it runs, and the capture's size.
// This one is mounted upside down, as libv4lconvert knows of some (named here by
// LIBV4LCONTROL_FLAGS, as a user names one it does not know): it is read through libv4l2's
// conversion, turned, so the emulated picture's dark corner, its top left, is at the bottom right.
TEST(Webcam, TheFirstWebcamIsTheDefaultAtTheAskedSizeAndItsFastestIntervalTheRightWayUp) {
    EmulatedWebcam webcam, none;
    webcam.ctl("create video0 --slow-default-interval --formats MJPG");
    ASSERT_EQ(webcam.show("video0")["interval"], "1/15");
    auto folder = e2e::scratchFolder("default-camera");
    const Lines args{"--headless", "--size", "1920x1080", "--script",
                     e2e::writeScript(folder, "wait 10 frames\ncapture frame.png\n")};
    Lines environment = emulatedEnvironment(webcam);
    environment.push_back("LIBV4LCONTROL_FLAGS=3"); // flipped both ways: turned half round
    auto run = e2e::runProgram(folder, args, "", environment, 90);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("fernhold: using the webcam /dev/video0 (Fernhold Emulated Webcam)"),
              std::string::npos)
        << run.err;
    auto shown = webcam.show("video0"); // the state stays with the node after the run
    EXPECT_GT(std::stol(shown["frames"]), 5);
    EXPECT_EQ(shown["format"] + " " + shown["size"] + " " + shown["interval"], "MJPG 1920x1080 1/30");
    auto frame = e2e::readPng(folder / "frame.png");
    ASSERT_EQ(frame.width * 10000 + frame.height, 1920 * 10000 + 1080);
    const auto green = [&](int x, int y) { return frame.rgba[(size_t(y) * 1920 + size_t(x)) * 4 + 1]; };
    EXPECT_GT(green(60, 225), green(1860, 855) + 60);
    auto virtualRun = e2e::runProgram(folder, args, "", emulatedEnvironment(none), 90);
    EXPECT_EQ(virtualRun.status, 0) << virtualRun.err;
    EXPECT_NE(virtualRun.err.find("fernhold: no webcam found; using the virtual camera"), std::string::npos)
        << virtualRun.err;
}

// The lines on standard error that name the camera.
long linesAboutTheCamera(const e2e::Run& run, const std::string& camera = "/dev/video0") {
    return std::count_if(run.errLines.begin(), run.errLines.end(),
                         [&](auto& line) { return line.find(camera) != std::string::npos; });
}

// Cameras as they come. Three frames in four are damaged (flagged in error, empty, cut
// short) and dropped while the picture goes on; one camera sends MJPEG without Huffman tables
// in sizes whose steps miss 640 x 480, at intervals that are not 1/N, and has neither focus
// nor zoom; the other sends only RGB24, which libv4l2 passes through, and is set to its
// fastest interval as the others are.
TEST(Webcam, OddCamerasShowTheirPictureAndDropTheirDamagedFrames) {
    // The options, the mode the camera must run at, whether it has focus and whether it pads.
    for (auto [create, mode, focus, padded] :
         {std::tuple{"--formats MJPG --stepwise --slow-default-interval --bare-jpeg --padded-restarts "
                     "--without focus --without zoom",
                     "MJPG 704x528 1001/30000", false, true},
          {"--formats RGB3 --slow-default-interval", "RGB3 640x480 1/30", true, false}}) {
        EmulatedWebcam webcam;
        webcam.ctl("create video0 --damaged "s + create);
        auto run = runOnWebcam(webcam, "odd",
                               "wait 1s\ndoubletap\nfocus manual\nslider focus 0.8\npinch 2\n"
                               "wait 1s\ncapture frame.png\nprint-ui\n");
        ASSERT_EQ(run.status, 0) << run.err;
        auto shown = webcam.show("video0");
        EXPECT_EQ(shown["format"] + " " + shown["size"] + " " + shown["interval"], mode);
        const long produced = e2e::uiNumber(run.err, "produced");
        EXPECT_GT(produced, 5) << run.err;
        EXPECT_LE(produced * 4, std::stol(shown["frames"]) + 4) << "a damaged frame was shown";
        EXPECT_EQ(run.err.find("JPEG warnings tolerated in") != std::string::npos, padded) << run.err;
        // The picture, red and blue where the emulated one has them, in the corners the zoom leaves.
        auto frame = e2e::readPng(run.folder / "frame.png");
        ASSERT_EQ(frame.rgba.size(), 640u * 480 * 4);
        auto redOverBlue = [&](size_t at) { return frame.rgba[at * 4] - frame.rgba[at * 4 + 2]; };
        EXPECT_GT(redOverBlue(40 * 640 + 40), 20);
        EXPECT_LT(redOverBlue(400 * 640 + 600), -20);
        // A slider for what the camera lacks is greyed and inert: a drag leaves it where it
        // was. Neither camera has exposure compensation.
        const std::string ui = run.uiLines().back();
        EXPECT_EQ(e2e::uiField(ui, "focusSlider", "enabled"), focus ? "" : "false") << ui;
        EXPECT_EQ(e2e::uiField(ui, "exposureBiasSlider", "enabled"), "false") << ui;
        EXPECT_EQ(e2e::uiField(ui, "focusSlider", "value") == "0.8", focus) << ui;
        EXPECT_LE(linesAboutTheCamera(run), 1) << run.err;
    }
}

// While the camera is away the screen says so and the run goes on; it resumes on return,
// with one line going and one coming back. In turn: an unplug, which takes udev's links with
// the node and their folders once empty (the camera, named by its by-id link, is found again
// by its identity); a failure that a replug mends; a stall until the camera resumes.
TEST(Webcam, ShowsCameraUnavailableAndResumesWhenTheCameraIsBack) {
    EmulatedWebcam webcam;
    webcam.ctl("create video0");
    const char* faults[] = {"unplug video0", "replug video0", "fail video0 EIO",
                            "replug video0", "stall video0",  "resume video0"};
    std::vector<long> frames; // at each print-ui
    bool linksWhileUnplugged = true;
    auto run = runOnWebcam(
        webcam, "breakdown",
        "wait 1s\nprint-ui\nwait 4s\nprint-ui\nwait 3s\nprint-ui\nwait 4s\nprint-ui\nwait 3s\nprint-ui\n"
        "wait 4s\nprint-ui\nwait 3s\nprint-ui\n",
        [&](int n) {
            frames.push_back(std::stol(webcam.show("video0")["frames"]));
            if (n == 2)
                linksWhileUnplugged = std::filesystem::exists(webcam.dir() + "/v4l");
            if (n == 2) // and held a moment by another program when it is back
                webcam.ctl("busyfor video0 2");
            if (n <= 6)
                webcam.ctl(faults[n - 1]);
        },
        byId);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(linksWhileUnplugged);
    EXPECT_TRUE(std::filesystem::exists(webcam.dir() + std::string(byId).substr(4)));
    auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 7u) << run.err;
    for (size_t i = 0; i < ui.size(); ++i)
        EXPECT_EQ(e2e::uiField(ui[i], "cameraUnavailableLabel", "hidden"), i % 2 ? "false" : "true")
            << i << run.err;
    for (size_t away = 1; away < 7; away += 2)
        EXPECT_GT(frames[away + 1], frames[away] + 20) << away << run.err;
    EXPECT_EQ(linesAboutTheCamera(run, byId), 6) << "one line going, one coming back:\n" << run.err;
}

// A camera replugged under another number is found by its identity, not taken for the
// other camera now on its old number, gets back the settings it lost at power-up, and is
// named by its new node.
TEST(Webcam, AReplugUnderAnotherNumberIsFoundWithItsSettings) {
    EmulatedWebcam webcam;
    webcam.ctl("create video0");
    auto run = runOnWebcam(
        webcam, "renumbered",
        "wait 1s\ndoubletap\nfocus manual\nslider focus 0.8\nwait 1s\nprint-ui\nwait 4s\nprint-ui\n",
        [&](int n) {
            // Ours comes back as video3, usable only once another camera has taken video0.
            for (const char* step : {"unplug video0", "deny video0", "replug video0 video3",
                                     "create video0 --bus usb-another-camera", "allow video3"})
                if (n == 1)
                    webcam.ctl(step);
        });
    ASSERT_EQ(run.status, 0) << run.err;
    auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 2u) << run.err;
    EXPECT_EQ(e2e::uiField(ui[1], "cameraUnavailableLabel", "hidden"), "true") << run.err;
    auto moved = webcam.show("video3"), other = webcam.show("video0");
    EXPECT_GT(std::stol(moved["frames"]), 20) << run.err;
    EXPECT_EQ(other["frames"], "0") << "the other camera was taken for ours";
    EXPECT_EQ(moved[key(V4L2_CID_FOCUS_AUTO)], "0");
    EXPECT_EQ(moved[key(V4L2_CID_FOCUS_ABSOLUTE)], "50") << "lens 0.8 of 250 to 0, not the default 0";
    EXPECT_EQ(e2e::uiField(ui[1], "focusLabel", "text"), "\"Pos 0.800\"") << ui[1];
    // The line says where it was found, not the name it had.
    EXPECT_NE(run.err.find("capture: camera '/dev/video3' is back"), std::string::npos) << run.err;
}

// Failures that pass while the camera stays plugged in: a stall that a restart of the
// stream cures, then not enough USB bandwidth for the restart, twice. The camera takes no
// frame interval, so the throttle drops frames in software, stalls measured at its pace.
TEST(Webcam, AStallAndAShortBusAreRecoveredWithoutAReplugAndTheThrottleKeptInSoftware) {
    EmulatedWebcam webcam;
    webcam.ctl("create video0 --no-frame-rate-control");
    long before = 0;
    auto run = runOnWebcam(webcam, "transient", "pressure serious\nwait 1s\nprint-ui\nwait 7s\nprint-ui\n",
                           [&](int n) {
                               if (n == 1) {
                                   before = std::stol(webcam.show("video0")["frames"]);
                                   webcam.ctl("nospace video0 2");
                                   webcam.ctl("hiccup video0");
                               }
                           });
    ASSERT_EQ(run.status, 0) << run.err;
    auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 2u) << run.err;
    EXPECT_EQ(e2e::uiField(ui[1], "cameraUnavailableLabel", "hidden"), "true") << run.err;
    EXPECT_GT(std::stol(webcam.show("video0")["frames"]), before + 20) << run.err;
    EXPECT_EQ(linesAboutTheCamera(run), 2) << "one line going, one coming back:\n" << run.err;
    EXPECT_NE(run.err.find("rate kept in software 1/5 s"), std::string::npos) << run.err;
    EXPECT_EQ(webcam.show("video0")["interval"], "1/30");
}

TEST(Webcam, ACameraThatCannotBeUsedIsOneLineAndStatusOne) {
    for (auto [setup, camera, says] :
         {std::tuple{"busy video0", "/dev/video0", "is busy"},
          {"deny video0", "/dev/video0", "no permission"},
          {"create video1 --metadata", "/dev/video1", "not a video capture device"},
          {"unplug video0", "/dev/video0", "No such file or directory"}}) {
        EmulatedWebcam webcam;
        webcam.ctl("create video0");
        webcam.ctl(setup);
        auto folder = e2e::scratchFolder("refused");
        auto run = e2e::runProgram(folder, {"--camera", camera, "--headless", "--seconds", "5"}, "",
                                   emulatedEnvironment(webcam));
        EXPECT_EQ(run.status, 1) << setup;
        EXPECT_NE(run.out.find(says), std::string::npos) << setup << "\n" << run.out << run.err;
        EXPECT_LE(run.errLines.size(), 1u) << run.err;
    }
}
} // namespace
