// The camera panel and the settings through the real program: an emulated UVC webcam's
// controls as v4l2-ctl sees them, changed by another program, kept across a replug, a
// restart and a second camera; damaged settings; the virtual camera's white balance.
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <regex>

#include "e2e/HostE2eSupport.h"
#include "support/EmulatedWebcam.h"

namespace {
using e2e::Lines;
using webcamtest::EmulatedWebcam;

struct Listed {
    std::string name, type, minimum, maximum, step, defaultValue, value, flags, menu;
};

// The cameraControls of a print-ui line, by id.
std::map<uint32_t, Listed> panelControls(const std::string& ui) {
    std::map<uint32_t, Listed> found;
    static const std::regex entry(
        "\\{\"name\":\"([^\"]+)\",\"id\":(\\d+),\"group\":\"[^\"]+\",\"type\":\"(\\w+)\","
        "\"minimum\":(-?\\d+),\"maximum\":(-?\\d+),\"step\":(\\d+),\"default\":(-?\\d+),"
        "\"value\":(-?\\d+),\"flags\":\"([^\"]*)\"(,\"menu\":\\{[^}]*\\})?");
    for (std::sregex_iterator m(ui.begin(), ui.end(), entry), end; m != end; ++m)
        found[uint32_t(std::stoul((*m)[2]))] = {(*m)[1], (*m)[3], (*m)[4], (*m)[5], (*m)[6],
                                                (*m)[7], (*m)[8], (*m)[9], (*m)[10]};
    return found;
}

e2e::Run runWith(const std::string& name, const Lines& environment, Lines args, const std::string& script,
                 const std::function<void(int)>& onUi = nullptr) {
    auto folder = e2e::scratchFolder(name);
    args.insert(args.end(), {"--headless", "--script", e2e::writeScript(folder, script)});
    int seen = 0;
    return e2e::runProgram(folder, args, "", environment, 90, [&](const std::string& line) {
        if (line.starts_with("{\"") && onUi)
            onUi(++seen);
    });
}

Lines onWebcam(const EmulatedWebcam& webcam) {
    const Lines environment =
        e2e::noDisplayAnd({"FERNHOLD_EMULATED_DEV=" + webcam.dir(), "LD_PRELOAD=" EMULATED_WEBCAM_PRELOAD});
    return environment;
}

TEST(CameraPanel, ListsTheWebcamsControlsAsV4l2CtlDoesAndFollowsAnotherProgram) {
    if (!e2e::installed("v4l2-ctl"))
        GTEST_SKIP() << "v4l2-ctl is not installed";
    EmulatedWebcam webcam;
    webcam.ctl("create video0");
    const auto [listed, listing] = webcam.run("v4l2-ctl -d /dev/video0 --list-ctrls-menus");
    ASSERT_EQ(listed, 0) << listing;
    auto run = runWith(
        "panel-list", onWebcam(webcam), {"--camera", "/dev/video0"},
        "wait 1s\nprint-ui\ncontrol White Balance, Automatic 0\nprint-ui\nwait 1s\nprint-ui\n", [&](int n) {
            if (n == 2)
                webcam.run("v4l2-ctl -d /dev/video0 --set-ctrl=white_balance_temperature=3500");
        });
    ASSERT_EQ(run.status, 0) << run.err;
    const auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 3u) << run.err;
    const auto panel = panelControls(ui[0]);
    EXPECT_EQ(panel.size(), 10u) << ui[0];
    for (uint32_t driven : {V4L2_CID_GAIN, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE,
                            V4L2_CID_FOCUS_AUTO, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_ZOOM_ABSOLUTE})
        EXPECT_FALSE(panel.contains(driven)) << "driven by the screen's own controls: " << driven;
    for (const auto& [id, c] : panel) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08x", id);
        std::smatch line;
        ASSERT_TRUE(
            std::regex_search(listing, line, std::regex(std::string(hex) + " \\((\\w+)\\) *: ([^\n]*)")))
            << c.name;
        const std::string range =
            c.type == "bool" ? "default=" + c.defaultValue
            : c.type == "menu"
                ? "min=" + c.minimum + " max=" + c.maximum + " default=" + c.defaultValue
                : "min=" + c.minimum + " max=" + c.maximum + " step=" + c.step + " default=" + c.defaultValue;
        EXPECT_EQ(line[1].str(), c.type) << c.name;
        EXPECT_TRUE(line[2].str().starts_with(range)) << c.name << ": " << line[2] << " against " << range;
        static const std::regex menuItem("\"(\\d+)\":\"([^\"]+)\"");
        for (std::sregex_iterator item(c.menu.begin(), c.menu.end(), menuItem), end; item != end; ++item) {
            std::string row = "\t"; // built up: GCC 12 at -O3 misreads a concatenation (-Wrestrict)
            row += (*item)[1].str();
            row += ": ";
            row += (*item)[2].str();
            row += '\n';
            EXPECT_NE(listing.find(row), std::string::npos) << c.name << " item " << (*item)[2];
        }
    }
    const uint32_t temperature = V4L2_CID_WHITE_BALANCE_TEMPERATURE;
    EXPECT_EQ(panel.at(temperature).flags, "inactive") << "automatic white balance is on";
    EXPECT_EQ(panelControls(ui[1]).at(temperature).flags, "") << ui[1];
    EXPECT_EQ(panelControls(ui[2]).at(temperature).value, "3500") << "another program's change";
}

// Two cameras of one model, told apart by their serials: while one is unplugged the other
// is never taken for it. A script's control while its camera is away waits for it to come
// back, and is said to be lost when it does not.
TEST(CameraPanel, SetValuesComeBackAfterAReplugAndARestartAndEachCameraKeepsItsOwn) {
    EmulatedWebcam webcam;
    webcam.ctl("create video0 --serial 0A1");
    webcam.ctl("create video1 --bus usb-second --serial 0B2");
    const std::string settings = (e2e::scratchFolder("panel-settings") / "settings.ini").string();
    const Lines first{"--camera", "/dev/video0", "--settings", settings};
    std::map<std::string, std::string> other;
    auto set = runWith("panel-set", onWebcam(webcam), first,
                       "wait 1s\ncontrol Power Line Frequency 2\nprint-ui\nwait 2s\ncontrol Brightness 20\n"
                       "print-ui\nwait 3s\n",
                       [&](int n) {
                           if (n == 1)
                               return webcam.ctl("unplug video0"), void();
                           other = webcam.show("video1");
                           webcam.ctl("replug video0"); // back with its defaults
                       });
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(other["frames"], "0") << "the other camera was taken for the one unplugged";
    auto shown = webcam.show("video0");
    char brightness[16], mains[16];
    std::snprintf(brightness, sizeof brightness, "0x%08x", V4L2_CID_BRIGHTNESS);
    std::snprintf(mains, sizeof mains, "0x%08x", V4L2_CID_POWER_LINE_FREQUENCY);
    EXPECT_EQ(shown[brightness], "20") << "set while away, applied once back";
    EXPECT_EQ(shown[mains], "2") << "put back after the replug";
    EXPECT_EQ(other[brightness], "0") << "nor given its settings";
    auto second =
        runWith("panel-second", onWebcam(webcam), {"--camera", "/dev/video1", "--settings", settings},
                "wait 1s\ncontrol Brightness -10\nprint-ui\nwait 1s\ncontrol Contrast 5\n",
                [&](int) { webcam.ctl("unplug video1"); });
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.err.find("not applied: control Contrast 5 (line 5)\n"), std::string::npos) << second.err;
    webcam.ctl("unplug video0");
    webcam.ctl("replug video0");
    auto restarted = runWith("panel-restart", onWebcam(webcam), first, "wait 500ms\nprint-ui\n");
    ASSERT_EQ(restarted.status, 0) << restarted.err;
    ASSERT_EQ(restarted.uiLines().size(), 1u) << restarted.err;
    const auto panel = panelControls(restarted.uiLines()[0]);
    EXPECT_EQ(panel.at(V4L2_CID_BRIGHTNESS).value, "20") << "the second camera's -10 is its own";
    EXPECT_EQ(panel.at(V4L2_CID_POWER_LINE_FREQUENCY).value, "2");
    EXPECT_EQ(webcam.show("video1")[brightness], "-10");
}

TEST(Settings, DamagedUnknownOutOfRangeAndUnwritableAreOneLineEachAndARunGoesOn) {
    const auto folder = e2e::scratchFolder("settings-bad");
    const std::filesystem::path locked = folder / "locked";
    std::filesystem::create_directories(locked);
    ::chmod(locked.c_str(), 0555);
    const bool canLock = ::access(locked.c_str(), W_OK) != 0; // not so for root
    struct Case {
        std::string text, file, says;
    };
    for (const Case& c :
         {Case{"[fernhold\nnot a setting\n", "damaged.ini", "kept as"},
          Case{"[fernhold]\ncolour = blue\n", "unknown.ini", "unknown key 'colour'"},
          Case{"[camera Virtual Camera]\nWhite Balance Temperature = 99999\n", "range.ini",
               "out of the control's range"},
          Case{"", canLock ? "locked/settings.ini" : "/proc/fernhold/settings.ini", "cannot save"}}) {
        const std::filesystem::path file =
            c.file.starts_with("/") ? std::filesystem::path(c.file) : folder / c.file;
        if (!c.text.empty())
            std::ofstream(file) << c.text;
        auto run = runWith("settings-case", e2e::noDisplay, {"--settings", file.string()}, "wait 300ms\n");
        EXPECT_EQ(run.status, 0) << run.err;
        int lines = 0;
        for (const auto& line : run.errLines)
            lines += line.starts_with("settings: ");
        EXPECT_EQ(lines, 1) << c.file << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "damaged.ini.bad"));
    EXPECT_TRUE(std::filesystem::exists(folder / "unknown.ini")) << "rewritten without harm";
}

TEST(Settings, AScriptedRunWritesNoSettingsUnlessToldWhere) {
    const auto home = e2e::scratchFolder("settings-home");
    const Lines environment =
        e2e::noDisplayAnd({"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string()});
    ASSERT_EQ(runWith("settings-none", environment, {}, "wait 200ms\n").status, 0);
    EXPECT_FALSE(std::filesystem::exists(home / "config"));
    ASSERT_EQ(
        runWith("settings-named", environment, {"--settings", (home / "named.ini").string()}, "zebra 80\n")
            .status,
        0);
    EXPECT_NE(e2e::slurp(home / "named.ini").find("zebra level = 80"), std::string::npos);
}

// Manual white balance tints the greys of a capture: a camera told the light is warmer than
// it is makes them blue, one told it is colder makes them orange. The automatic switch is
// the device's own white balance mode, whose change the screen observes.
TEST(VirtualCamera, ManualWhiteBalanceTintsTheGreysOfACapture) {
    auto run =
        runWith("white-balance", e2e::noDisplay, {"--camera", "virtual"},
                "wait 1s\ncapture auto.png\ncontrol 0x0098090c 0\ncontrol White Balance Temperature 2800\n"
                "wait 10 frames\ncapture warm.png\ncontrol White Balance Temperature 6500\nwait 10 frames\n"
                "capture cold.png\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("whiteBalanceMode changed to 0\n"), std::string::npos) << run.out;
    const auto automatic = e2e::readPng(run.folder / "auto.png");
    std::map<std::string, double> blueOverRed;
    for (const char* name : {"auto", "warm", "cold"}) {
        const auto picture = e2e::readPng(run.folder / (std::string(name) + ".png"));
        ASSERT_EQ(picture.rgba.size(), automatic.rgba.size()) << name;
        double sum = 0, count = 0;
        for (size_t i = 0; i + 3 < automatic.rgba.size(); i += 4) {
            const int r = automatic.rgba[i], g = automatic.rgba[i + 1], b = automatic.rgba[i + 2];
            if (g > 30 && g < 220 && std::abs(r - g) < 10 && std::abs(b - g) < 10) // a grey in the scene
                sum += picture.rgba[i + 2] - picture.rgba[i], ++count;
        }
        ASSERT_GT(count, 500) << "greys to measure";
        blueOverRed[name] = sum / count;
    }
    EXPECT_NEAR(blueOverRed["auto"], 0, 3);
    EXPECT_GT(blueOverRed["warm"], 15) << "told 2800 K under 5000 K light: blue";
    EXPECT_LT(blueOverRed["cold"], -10) << "told 6500 K: orange";
}

} // namespace
