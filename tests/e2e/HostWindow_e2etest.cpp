// The real window under a virtual X server: keys and a mouse drag from xdotool reach the
// screen as touches, and the X server's own framebuffer shows what the window drew.
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "HostE2eSupport.h"

namespace {

// An X server of our own on a free display, its screen kept in a file.
class VirtualDisplay {
  public:
    explicit VirtualDisplay(const std::filesystem::path& folder, const std::string& size = "1920x1080")
        : screenFile_(folder / "Xvfb_screen0"),
          server_("Xvfb -displayfd 1 -screen 0 " + size + "x24 -nolisten tcp -fbdir" +
                  e2e::quoted({folder.string()}) + " 2>/dev/null") {
        // The server writes its display number on standard output once it accepts connections.
        while (display_.empty() &&
               server_.pump(std::chrono::seconds(30), [&](auto& line) { display_ = ":" + line; })) {
        }
    }
    ~VirtualDisplay() { server_.stop(SIGTERM); }
    const std::string& display() const { return display_; }

    // The screen now: the server keeps it as an XWD file, which ffmpeg reads.
    e2e::Picture screen() const {
        const auto png = screenFile_.parent_path() / "screen.png";
        std::system(("ffmpeg -nostdin -loglevel error -y -f xwd_pipe -i" +
                     e2e::quoted({screenFile_.string()}) + " -frames:v 1" + e2e::quoted({png.string()}))
                        .c_str());
        return e2e::readPng(png);
    }

  private:
    std::filesystem::path screenFile_;
    e2e::Process server_;
    std::string display_;
};

// The first line a process prints within 40 s (the first that is `wanted`, when given), or
// nothing.
std::string firstLineOf(e2e::Process& process, const std::string& wanted = "") {
    std::string first;
    const auto deadline = e2e::Clock::now() + std::chrono::seconds(40);
    while (first.empty() && e2e::Clock::now() < deadline &&
           process.pump(deadline - e2e::Clock::now(), [&](auto& line) {
               if (first.empty() && (wanted.empty() || line == wanted))
                   first = line;
           })) {
    }
    return first;
}

std::string firstLine(const std::string& command) {
    e2e::Process process(command);
    return firstLineOf(process);
}

// Where the window is and how large, as xdotool reports it: x, y, width, height.
std::array<int, 4> windowGeometry(const std::string& xdotool, const std::string& window) {
    const std::string line = firstLine(xdotool + "getwindowgeometry --shell " + window + " | tr '\\n' ' '");
    std::smatch match;
    if (!std::regex_search(line, match, std::regex("X=([0-9]+) Y=([0-9]+) WIDTH=([0-9]+) HEIGHT=([0-9]+)")))
        return {0, 0, 0, 0};
    return {std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4])};
}

// The area of the smallest rectangle around everything lit left of the window's side
// panel (384 points wide): the picture.
long pictureArea(const e2e::Picture& screen, const std::array<int, 4>& window) {
    int left = screen.width, right = -1, top = screen.height, bottom = -1;
    for (int y = window[1]; y < std::min(screen.height, window[1] + window[3]); ++y)
        for (int x = window[0]; x < std::min(screen.width, window[0] + window[2] - 384); ++x) {
            const unsigned char* p = &screen.rgba[(size_t(y) * screen.width + x) * 4];
            if (p[0] + p[1] + p[2] > 60) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
    return right < 0 ? 0 : long(right - left + 1) * (bottom - top + 1);
}

// A desktop on its own display, with its window manager ready before a window opens (a
// window mapped while it is still taking over the screen can wait for its map for ever);
// skips the test where the tools are missing.
#define DESKTOP_OR_SKIP(folder, x, size)                                                                     \
    for (const char* tool : {"Xvfb", "xdotool", "openbox", "ffmpeg", "setxkbmap"})                           \
        if (!e2e::installed(tool))                                                                           \
            GTEST_SKIP() << "needs Xvfb, xdotool, openbox, ffmpeg and setxkbmap";                            \
    VirtualDisplay x(folder, size);                                                                          \
    if (x.display().empty())                                                                                 \
        GTEST_SKIP() << "Xvfb did not start";                                                                \
    e2e::Process windowManager("env DISPLAY=" + x.display() +                                                \
                               " openbox --startup 'echo ready' 2>/dev/null");                               \
    ASSERT_EQ(firstLineOf(windowManager, "ready"), "ready")

// A desktop window driven as a person would: keys and a mouse drag reach the screen as
// touches, the window opens landscape with the picture growing as it does, `s` takes a
// photo into the XDG Pictures folder, `f` fills the screen, Escape leaves full screen but
// never quits, and Ctrl+Q does; the size it had before filling the screen is remembered.
TEST(WindowRun, ADesktopWindowTakesKeysAndTheMouseResizesTakesPhotosAndQuitsOnlyOnCtrlQ) {
    // A desktop's full screen is the window manager's to give.
    auto folder = e2e::scratchFolder("desktop");
    DESKTOP_OR_SKIP(folder, x, "1920x1080");
    std::filesystem::create_directories(folder / "home/.config");
    std::ofstream(folder / "home/.config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    // The script says when frames are on the screen (the first print-ui) and when the
    // input below has had time to be drawn (the second); the test acts on those lines.
    auto script = e2e::writeScript(folder, "wait 20 frames\nprint-ui\nwait 8s\nprint-ui\nwait 120s\n");
    e2e::Process program(
        e2e::programCommand(folder, {"--script", script, "--settings", (folder / "settings.ini").string()},
                            {"-u", "WAYLAND_DISPLAY", "-u", "XDG_CONFIG_HOME",
                             "HOME=" + (folder / "home").string(), "DISPLAY=" + x.display()}));
    e2e::Lines ui;
    std::string err;
    const auto deadline = e2e::Clock::now() + std::chrono::minutes(2);
    auto reached = [&](size_t count) { // false if the program ended (or two minutes passed) first
        while (ui.size() < count && e2e::Clock::now() < deadline &&
               program.pump(deadline - e2e::Clock::now(), [&](const std::string& line) {
                   err += line + "\n";
                   if (line.starts_with("{\""))
                       ui.push_back(line);
               })) {
        }
        return ui.size() >= count;
    };
    const std::string xdotool = "env DISPLAY=" + x.display() + " timeout 30 xdotool ";
    const std::string window = firstLine(xdotool + "search --sync --onlyvisible --name '^Fernhold$'");
    ASSERT_TRUE(reached(1) && !window.empty()) << err;
    const auto opened = windowGeometry(xdotool, window);
    EXPECT_EQ(opened[2] * 10000 + opened[3], 1280 * 10000 + 720) << "landscape, 1280 x 720";
    const long before = pictureArea(x.screen(), opened);
    EXPECT_GE(before, 1280L * 720 / 2) << "the picture covers half the window";

    const std::string at = "mousemove --window " + window + " ";
    std::system((xdotool + "windowactivate --sync " + window + " key Return key Right " + at +
                 "200 300 mousedown 1 " + at + "280 300 " + at + "360 300 mouseup 1")
                    .c_str()); // a double tap (the controls), a swipe by key and one by drag
    ASSERT_TRUE(reached(2)) << err;
    EXPECT_GT(x.screen().count(e2e::accent), 300u) << "the slider tracks after the double tap";
    EXPECT_EQ(e2e::uiNumber(ui[1], "selectedFilterIndex"), 2) << ui[1];
    EXPECT_NE(ui[1].find("\"hideControls\":false"), std::string::npos) << ui[1];

    auto settle = [] { std::this_thread::sleep_for(std::chrono::seconds(2)); };
    std::system((xdotool + "windowsize " + window + " 1600 900").c_str());
    settle();
    EXPECT_GT(pictureArea(x.screen(), windowGeometry(xdotool, window)), before * 5 / 4)
        << "the picture grows with the window";

    std::system((xdotool + "windowactivate --sync " + window + " key s key f").c_str());
    settle();
    const auto full = windowGeometry(xdotool, window);
    EXPECT_EQ(full[2] * 10000 + full[3], 1920 * 10000 + 1080) << "f fills the screen";
    std::system((xdotool + "key Escape").c_str());
    settle();
    EXPECT_EQ(windowGeometry(xdotool, window)[2], 1600) << "Escape leaves full screen";
    std::system((xdotool + "key Escape key f key ctrl+q").c_str());
    const auto quitBy = e2e::Clock::now() + std::chrono::seconds(30);
    while (e2e::Clock::now() < quitBy &&
           program.pump(quitBy - e2e::Clock::now(), [&](const std::string& line) { err += line + "\n"; })) {
    }
    EXPECT_EQ(e2e::Clock::now() < quitBy ? program.wait() : program.stop(SIGKILL), 0) << "Ctrl+Q quits\n"
                                                                                      << err;
    windowManager.stop(SIGTERM);
    const std::string settings = e2e::slurp(folder / "settings.ini");
    for (const char* kept : {"\nwindow = 1600x900\n", "\nfullscreen = on\n"})
        EXPECT_NE(settings.find(kept), std::string::npos) << settings;
    std::vector<std::filesystem::path> photos;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "home/Bilder/Fernhold"))
        photos.push_back(entry.path());
    ASSERT_EQ(photos.size(), 1u) << err;
    EXPECT_EQ(photos[0].extension(), ".jpg");
    EXPECT_FALSE(e2e::readPng(photos[0]).rgba.empty());
}

// Started from a desktop's menu, a camera that cannot be opened says why in a dialog, and
// on both streams; the run ends with status 1 once the dialog is closed.
TEST(WindowRun, ACameraThatCannotBeOpenedIsToldInADialogAndOnBothStreams) {
    auto folder = e2e::scratchFolder("startfailure");
    DESKTOP_OR_SKIP(folder, x, "1920x1080");
    e2e::Process program(e2e::programCommand(folder, {"--camera", (folder / "missing.png").string()},
                                             {"-u", "WAYLAND_DISPLAY", "DISPLAY=" + x.display()}));
    const std::string xdotool = "env DISPLAY=" + x.display() + " timeout 30 xdotool ";
    const long window =
        std::atol(firstLine(xdotool + "search --sync --onlyvisible --name '^Fernhold$'").c_str());
    // The dialog's title is UTF-8 only, which xdotool cannot match: it is the window the
    // window manager activates instead of the main one, as xprop reports.
    e2e::Process active("env DISPLAY=" + x.display() + " xprop -root -spy _NET_ACTIVE_WINDOW");
    std::string dialog;
    const auto shown = e2e::Clock::now() + std::chrono::seconds(30);
    while (dialog.empty() && active.pump(shown - e2e::Clock::now(), [&](const std::string& line) {
        if (long id = std::strtol(line.substr(line.rfind(' ') + 1).c_str(), nullptr, 16); id && id != window)
            dialog = std::to_string(id);
    }) && e2e::Clock::now() < shown) {
    }
    ASSERT_FALSE(dialog.empty()) << "no dialog";
    std::system((xdotool + "windowactivate --sync " + dialog + " key Return").c_str());
    std::string err;
    const auto deadline = e2e::Clock::now() + std::chrono::seconds(30);
    while (e2e::Clock::now() < deadline &&
           program.pump(deadline - e2e::Clock::now(), [&](const std::string& line) { err += line + "\n"; })) {
    }
    EXPECT_EQ(e2e::Clock::now() < deadline ? program.wait() : program.stop(SIGKILL), 1) << err;
    const std::string out = e2e::slurp(folder / "stdout.txt"); // the one fatal line, also on standard error
    EXPECT_TRUE(out.starts_with("Could not initialize rendering pipeline: ") &&
                err.ends_with("fernhold: " + out))
        << out << err;
}

// On a small display the window opens no lower than its minimum size (where the layout's
// own test finds every control inside and none over another) and no wider than the
// display, when the size saved is wider and too low; O opens the photo folder in the
// desktop's file manager (here an xdg-open that says what it was given). Keys act by the
// character they type in the user's layout: on a German keyboard '?' is Shift and ß and ']'
// is AltGr and 9; on a French one '[' is AltGr and the key of 5 and '?' is Shift and comma
// (xdotool presses a character's key with the layout's Shift or AltGr). The screen's state
// comes from print-ui lines written every half second until one shows a layout's keys done.
TEST(WindowRun, TheSmallestWindowHoldsTheWholeScreenOOpensThePhotoFolderAndKeysFollowTheLayout) {
    auto folder = e2e::scratchFolder("smallest");
    DESKTOP_OR_SKIP(folder, x, "800x600");
    std::filesystem::create_directories(folder / "bin");
    std::ofstream(folder / "bin/xdg-open") << "#!/bin/sh\necho \"xdg-open $*\" >&2\n";
    std::filesystem::permissions(folder / "bin/xdg-open", std::filesystem::perms::owner_all);
    std::string text = "wait 10 frames\ndoubletap\n";
    for (int i = 0; i < 240; ++i)
        text += "print-ui\nwait 500ms\n";
    std::ofstream(folder / "settings.ini") << "[fernhold]\nwindow = 5000x300\n";
    e2e::Process program(e2e::programCommand(
        folder,
        {"--script", e2e::writeScript(folder, text), "--settings", (folder / "settings.ini").string()},
        {"-u", "WAYLAND_DISPLAY", "-u", "XDG_CONFIG_HOME", "HOME=" + (folder / "home").string(),
         "PATH=" + (folder / "bin").string() + ":" + std::getenv("PATH"), "DISPLAY=" + x.display()}));
    std::string ui, err;
    // Reads standard error until a line shows what is waited for; false if the run ended first.
    auto until = [&](const std::function<bool(const std::string&)>& shows) {
        bool shown = false;
        while (!shown && program.pump(std::chrono::seconds(30), [&](const std::string& line) {
            err += line + "\n";
            ui = line.starts_with("{\"") ? line : ui;
            shown = shown || shows(line);
        })) {
        }
        return shown;
    };
    ASSERT_TRUE(until([](const std::string& line) { return line.starts_with("{\""); })) << err;
    std::smatch frame;
    ASSERT_TRUE(std::regex_search(ui, frame, std::regex("\"window\":\\{\"frame\":\\[0,0,(\\d+),(\\d+)\\]")))
        << ui;
    EXPECT_TRUE(std::stoi(frame[1]) > 640 && std::stoi(frame[1]) <= 800 && frame[2] == "480")
        << "within the display, never below the minimum size: " << ui;
    const long level = std::stol(e2e::uiField(ui, "zebraLevelStepper", "value"));
    const std::string xdotool = "env DISPLAY=" + x.display() + " timeout 30 xdotool ";
    const std::string id = firstLine(xdotool + "search --sync --onlyvisible --name '^Fernhold$'");
    const auto type = [&](const char* layout, const char* keys) {
        ASSERT_EQ(std::system(("setxkbmap -display " + x.display() + " " + layout).c_str()), 0);
        std::system((xdotool + "windowactivate --sync " + id + " key " + keys).c_str());
    };
    type("us", "o");
    EXPECT_TRUE(until([&](const std::string& line) {
        return line == "xdg-open file://" + (folder / "home/Pictures/Fernhold").string();
    })) << err;
    type("de", "z bracketright question plus");
    EXPECT_TRUE(until([&](const std::string& line) {
        return e2e::uiField(line, "zebraSwitch", "on") == "true" &&
               std::atol(e2e::uiField(line, "zebraLevelStepper", "value").c_str()) > level &&
               e2e::uiField(line, "help", "shown") == "true" &&
               e2e::uiField(line, "zoomLabel", "text") != "\"\"";
    })) << "z, ], ? and + on a German keyboard\n"
        << ui;
    type("fr", "bracketleft minus question");
    EXPECT_TRUE(until([&](const std::string& line) {
        return e2e::uiField(line, "zebraLevelStepper", "value") == std::to_string(level) &&
               e2e::uiField(line, "zoomLabel", "text") == "\"\"" &&
               e2e::uiField(line, "help", "shown") == "false";
    })) << "[, - and ? on a French keyboard\n"
        << ui;
    EXPECT_EQ(program.stop(SIGTERM), 0) << err;
}

} // namespace
