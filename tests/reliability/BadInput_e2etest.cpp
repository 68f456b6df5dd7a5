// The program handed what it cannot use: a camera that cannot be opened, no OpenGL ES,
// picture files that are damaged, of another type or claim sizes they cannot have,
// command lines and script lines that are wrong in every way. Each must end the run the
// documented way (status, the one line that says why, where it goes) before anything
// else happens, and never crash or hang instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/PictureBytes.h"
#include "e2e/HostE2eSupport.h"

namespace {

using e2e::runProgram;

const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY";
const std::string fatalPrefix = "Could not initialize rendering pipeline: ";

// A test's scratch folder, removed when the test passed (kept to look at when it failed).
struct Scratch {
    std::filesystem::path path;
    explicit Scratch(const std::string& name) : path(e2e::scratchFolder(name)) {}
    ~Scratch() {
        if (!::testing::Test::HasFailure()) std::filesystem::remove_all(path);
    }
    operator const std::filesystem::path&() const { return path; }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

// Everything tried, and what was refused the expected way; said on standard error once
// per group so a person sees how much was covered.
struct Tally {
    const char* group;
    int tried = 0, refused = 0;
    ~Tally() { std::fprintf(stderr, "bad input: %s: %d tried, %d refused as expected\n", group, tried, refused); }
};

std::string describe(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& arg : args)
        text += (text.empty() ? "" : " ") + (arg.size() > 60 ? arg.substr(0, 60) + "..." : arg);
    return text;
}

// ---- Cameras that cannot be opened --------------------------------------------------

struct BadCamera {
    std::string source;
    std::string because; // part of the description the fatal line must carry
};

TEST(CameraFaults, EveryUnusableSourceEndsWithTheFatalLineAndStatusOne) {
    Scratch folder("badcamera");
    using namespace pictures;
    const Bytes goodPng = png(32, 24), goodJpeg = jpeg(32, 24);
    Bytes badDeflate = goodPng;
    for (size_t i = 45; i < 60 && i < badDeflate.size(); ++i) // inside the IDAT data
        badDeflate[i] ^= 0x5A;
    std::filesystem::create_directories(folder / "folder.png");
    const std::string longName = "/" + std::string(5000, 'n') + ".png";

    const std::vector<BadCamera> cases{
        {"/nonexistent.png", "No such file"},
        {(folder / "folder.png").string(), "folder"},
        {longName, "too long"},
        {save(folder / "empty.jpg", {}), "empty"},
        {save(folder / "gif.png", text("GIF89a\x01\x00\x01\x00\x80\x00\x00")), "not a PNG or JPEG"},
        {save(folder / "text.jpg", text("this is not a picture\n")), "not a PNG or JPEG"},
        {save(folder / "bitmap.png", bmp(8, 8)), "not a PNG or JPEG"},
        {save(folder / "jpeg-named.png", cut(goodJpeg, 1)), "not a PNG or JPEG"},
        {save(folder / "signature-only.png", cut(goodPng, 8)), "not a PNG or JPEG"},
        {save(folder / "header-only.png", cut(goodPng, 33)), "damaged or truncated"},
        {save(folder / "half.png", cut(goodPng, goodPng.size() / 2)), "damaged or truncated"},
        {save(folder / "scrambled.png", badDeflate), "damaged or truncated"},
        {save(folder / "half.jpg", cut(goodJpeg, goodJpeg.size() / 2)), "damaged or truncated"},
        {save(folder / "no-end.jpg", cut(goodJpeg, goodJpeg.size() - 2)), "damaged or truncated"},
        {save(folder / "wide.png", pngClaiming(20000, 10)), "at most 16384"},
        {save(folder / "huge.png", pngClaiming(16384, 16384)), "64 megapixels"},
        {save(folder / "vast.png", pngClaiming(20000, 20000)), "at most 16384"},
        {save(folder / "empty-claim.png", pngClaiming(0, 0)), "not a PNG or JPEG"},
        {save(folder / "bigger-than-data.png", pngClaiming(1000, 1000)), "damaged or truncated"},
        {save(folder / "huge.jpg", jpegClaiming(60000, 60000)), "at most 16384"},
        {save(folder / "tall.jpeg", jpegClaiming(100, 65535)), "at most 16384"},
        {"/dev/video99", "/dev/video99"},
    };
    Tally tally{"cameras"};
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.source.substr(0, 80));
        ++tally.tried;
        auto run = runProgram(folder, {"--headless", "--seconds", "20", "--camera", bad.source});
        ASSERT_EQ(run.outLines().size(), 1u) << "stdout: " << run.out << "\nstderr: " << run.err;
        const std::string line = run.outLines().front();
        EXPECT_EQ(line.rfind(fatalPrefix, 0), 0u) << line;
        EXPECT_GT(line.size(), fatalPrefix.size()) << "a description follows";
        EXPECT_NE(line.find(bad.because), std::string::npos) << line;
        EXPECT_EQ(run.status, 1) << line;
        EXPECT_TRUE(run.err.empty()) << run.err;
        tally.refused += run.status == 1 && line.rfind(fatalPrefix, 0) == 0 && line.find(bad.because) != std::string::npos;
    }
}

// ---- No OpenGL ES --------------------------------------------------------------------

TEST(GraphicsFaults, WithoutAnEglVendorTheRunEndsWithOneClearLineAndStatusOne) {
    Scratch folder("nogl");
    // libglvnd finds its EGL vendors through JSON files: none at all, and one whose library
    // is missing. Either way no display can be had.
    std::ofstream(folder / "vendor.json")
        << R"({"file_format_version": "1.0.0", "ICD": {"library_path": "/nonexistent/libEGL_none.so.0"}})";
    const std::vector<std::string> environments{
        noDisplay + " __EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json",
        noDisplay + " __EGL_VENDOR_LIBRARY_FILENAMES=" + (folder / "vendor.json").string(),
    };
    Tally tally{"graphics"};
    for (const auto& environment : environments) {
        SCOPED_TRACE(environment);
        ++tally.tried;
        auto run = runProgram(folder, {"--headless", "--seconds", "5"}, "", environment);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << "the camera screen never started: " << run.out;
        const auto lines = run.errLines();
        ASSERT_FALSE(lines.empty());
        const std::string& last = lines.back();
        EXPECT_EQ(last.rfind("fernhold: could not create the OpenGL ES context: ", 0), 0u) << run.err;
        EXPECT_NE(last.find("EGL"), std::string::npos) << "the line names what failed: " << last;
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) { return line.find("OpenGL ES") != std::string::npos; }),
                  1) << "said once: " << run.err;
        tally.refused += run.status == 1 && run.out.empty();
    }
}

// ---- The command line ------------------------------------------------------------------

TEST(CommandLineAbuse, EveryBadOptionValueIsOneLineOnStandardErrorAndStatusTwo) {
    Scratch folder("badoptions");
    const std::string huge(60000, '7');
    const std::vector<std::vector<std::string>> cases{
        // missing values
        {"--camera"}, {"--script"}, {"--out"}, {"--seconds"},
        {"--seconds="}, {"--camera="}, {"--camera", "--headless"},
        // empty and malformed
        {"--camera", ""}, {"--script", ""}, {"--out", ""}, {"--seconds", ""},
        {"--camera", "picture.gif"}, {"--camera", "/dev/sda"}, {"--camera", "Virtual"}, {"--camera", ".pngx"},
        {"--seconds", "abc"}, {"--seconds", "1,5"}, {"--seconds", "0x10"}, {"--seconds", "1e6x"},
        {"--seconds", " 3"}, {"--seconds", "3 "}, {"--seconds", "--stats"},
        {"--headless=maybe"}, {"--stats=sometimes"},
        // out of range
        {"--seconds", "0"}, {"--seconds", "-0"}, {"--seconds", "-1"}, {"--seconds", "1000000.001"},
        {"--seconds", "1e300"}, {"--seconds", "inf"}, {"--seconds", "-inf"}, {"--seconds", "nan"},
        // huge
        {"--seconds", huge}, {"--camera", std::string(60000, 'c')}, {"--script", std::string(60000, 's')},
        // repeated, unknown and stray
        {"--camera", "virtual", "--camera", "still.png"}, {"--seconds", "1", "--seconds", "2"},
        {"-x"}, {"---headless"}, {"--head"}, {"extra"}, {"--", "--headless"}, {"--headless", "stray"},
    };
    Tally tally{"command-line options"};
    for (const auto& args : cases) {
        SCOPED_TRACE(describe(args));
        ++tally.tried;
        auto run = runProgram(folder, args);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty()) << run.out;
        ASSERT_EQ(run.errLines().size(), 1u) << run.err.substr(0, 500);
        EXPECT_EQ(run.err.rfind("fernhold: ", 0), 0u) << run.err.substr(0, 200);
        tally.refused += run.status == 2 && run.out.empty() && run.err.rfind("fernhold: ", 0) == 0;
    }
}

TEST(CommandLineAbuse, AnOutputFolderThatCannotBeMadeIsARuntimeFailure) {
    Scratch folder("badout");
    std::ofstream(folder / "a-file") << "in the way";
    Tally tally{"output folders"};
    for (const std::string& out :
         std::vector<std::string>{(folder / "a-file" / "sub").string(), "/proc/fernhold-out", std::string(5000, 'o')}) {
        SCOPED_TRACE(out.substr(0, 80));
        ++tally.tried;
        auto run = runProgram(folder, {"--headless", "--seconds", "1", "--out", out});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty()) << run.out;
        ASSERT_EQ(run.errLines().size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("fernhold: cannot create the output folder ", 0), 0u) << run.err;
        tally.refused += run.status == 1 && run.out.empty();
    }
}

// A script name that names a folder is as unusable as one that names nothing.
TEST(CommandLineAbuse, AScriptThatIsAFolderIsRefusedLikeAMissingOne) {
    Scratch folder("scriptfolder");
    std::filesystem::create_directories(folder / "scripts");
    Tally tally{"script files"};
    ++tally.tried;
    auto run = runProgram(folder, {"--headless", "--seconds", "5", "--script", (folder / "scripts").string()});
    EXPECT_EQ(run.status, 2) << "the run went on as if the script were empty";
    EXPECT_TRUE(run.out.empty()) << "the camera screen never started: " << run.out.substr(0, 200);
    ASSERT_EQ(run.errLines().size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("fernhold: cannot read script ", 0), 0u) << run.err;
    tally.refused += run.status == 2;
}

// ---- Scripts ---------------------------------------------------------------------------

TEST(ScriptAbuse, ABadLineOfEveryCommandKindStopsTheRunBeforeAnythingHappens) {
    Scratch folder("badlines");
    const std::vector<std::string> lines{
        "wait", "wait 5", "wait ms", "wait -1s", "wait 0 frames", "wait 1.5 frames", "wait 3601s",
        "wait 10000001 frames", "wait 1e999ms", "wait nan s", "wait 2 fortnights", "wait 1 2 3",
        "swipe", "swipe up", "swipe left right", "swipe LEFT",
        "tap twice", "doubletap 2",
        "pinch", "pinch 0", "pinch -1", "pinch 100.5", "pinch 0.009", "pinch 1e400", "pinch inf", "pinch two",
        "focus", "focus fixed", "focus manual auto", "focus Manual",
        "exposure", "exposure bright", "exposure 1",
        "slider", "slider iso", "slider zoom 0.5", "slider iso high", "slider bias 1e7", "slider focus -1000001",
        "slider duration nan", "slider iso 0.5 0.6",
        "pressure", "pressure high now", "pressure " + std::string(65, 'p'),
        "lock", "lock maybe", "lock refuse grant", "lock REFUSE",
        "disappear now", "appear again",
        "snapshot", "snapshot shot.jpg", "snapshot .png", "snapshot a.png b.png", "snapshot shot.PNG",
        "capture", "capture frame", "capture .png", "capture a.png b.png",
        "print-ui all", "quit now",
        "jump", "Tap", "wait\x01" "5s", std::string("tap\0", 4), "\xff\xfe", "tap\rswipe left",
        std::string(1 << 20, 'w'),
    };
    Tally tally{"script lines"};
    for (const auto& line : lines) {
        SCOPED_TRACE(line.substr(0, 60));
        ++tally.tried;
        // Two good lines first: the error names the third.
        auto script = e2e::writeScript(folder, "wait 1 frames\n# fine so far\n" + line + "\nsnapshot never.png\n");
        auto run = runProgram(folder, {"--headless", "--script", script});
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty()) << "the camera screen never started: " << run.out.substr(0, 200);
        ASSERT_EQ(run.errLines().size(), 1u) << run.err.substr(0, 300);
        EXPECT_EQ(run.err.rfind("script:3: ", 0), 0u) << run.err.substr(0, 200);
        EXPECT_FALSE(std::filesystem::exists(folder / "never.png"));
        tally.refused += run.status == 2 && run.out.empty() && run.err.rfind("script:3: ", 0) == 0;
    }
}

} // namespace
