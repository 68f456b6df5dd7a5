// Photos from the shutter, and the ways a run ends: a signal ends it as quitting does,
// and no picture file is ever left half written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "HostE2eSupport.h"

namespace {

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    return files;
}

// A photo that cannot be saved is one line and the run goes on; a capture that cannot be
// written fails the run at its end, but not the script.
TEST(Shutter, PhotosLandInTheirFolderAndUnwritableOnesAreOneLineAndTheRunGoesOn) {
    auto folder = e2e::scratchFolder("shutter");
    auto script =
        e2e::writeScript(folder, "wait 5 frames\nshutter\nshutter\nsnapshot screen.png\nprint-ui\n");
    auto run = e2e::runProgram(folder, {"--headless", "--script", script, "--photos", "photos"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto photos = filesIn(folder / "photos");
    ASSERT_EQ(photos.size(), 2u) << run.err;
    for (const auto& photo : photos) {
        EXPECT_EQ(photo.extension(), ".jpg");
        EXPECT_FALSE(e2e::readPng(photo).rgba.empty()) << photo;
        EXPECT_NE(run.err.find("photo: " + photo.string()), std::string::npos) << run.err;
    }
    auto screen = e2e::readPng(folder / "screen.png");
    EXPECT_GT(screen.width, screen.height) << "a run without a window is laid out landscape";

    script =
        e2e::writeScript(folder, "wait 5 frames\nshutter\nshutter\ncapture /proc/fernhold/f.png\nprint-ui\n");
    auto refused = e2e::runProgram(folder, {"--headless", "--script", script, "--photos", "/proc/fernhold"});
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("script:4: capture failed: "), std::string::npos) << refused.err;
    size_t problems = 0;
    for (const auto& line : refused.errLines)
        problems += line.starts_with("photo: not saved: ");
    EXPECT_EQ(problems, 2u) << refused.err;
    EXPECT_EQ(refused.uiLines().size(), 1u) << "the script went on";

    // A full disk is said as the system says it, once a picture, without the encoders' own
    // complaints, and leaves no partial file behind.
    e2e::Lines fullDisk = e2e::noDisplay;
    fullDisk.insert(fullDisk.end(), {"LD_PRELOAD=" FULL_DISK_PRELOAD, "FERNHOLD_FULL_DISK_BYTES=0",
                                     "FERNHOLD_FULL_DISK_NAMES=.png.tmp,.fernhold-photo-"});
    script = e2e::writeScript(folder, "wait 5 frames\nshutter\nsnapshot full/s.png\ncapture full/c.png\n");
    auto full = e2e::runProgram(folder, {"--headless", "--script", script, "--photos", "full"}, "", fullDisk);
    EXPECT_EQ(full.status, 1) << full.err;
    for (const std::string line :
         {"photo: not saved: cannot write in ", "script:3: snapshot failed: could not write ",
          "script:4: capture failed: could not write "}) {
        const auto found = std::find_if(full.errLines.begin(), full.errLines.end(),
                                        [&](const std::string& l) { return l.starts_with(line); });
        ASSERT_NE(found, full.errLines.end()) << line << "\n" << full.err;
        EXPECT_TRUE(found->ends_with(": No space left on device")) << *found;
    }
    for (const auto& line : full.errLines)
        EXPECT_EQ(line.find("libpng"), std::string::npos) << line;
    EXPECT_TRUE(filesIn(folder / "full").empty()) << "a partial picture was left behind";
}

TEST(Ending, SigintSigtermAndSighupEndARunThatWritesPicturesAsQuittingDoes) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        auto folder = e2e::scratchFolder("signal" + std::to_string(signal));
        std::string text = "wait 3 frames\n";
        for (int i = 0; i < 200; ++i)
            text +=
                "snapshot s" + std::to_string(i) + ".png\ncapture c" + std::to_string(i) + ".png\nshutter\n";
        auto script = e2e::writeScript(folder, text);
        e2e::Process program(e2e::programCommand(
            folder, {"--headless", "--stats", "--script", script, "--out", "out", "--photos", "out"}));
        std::string err;
        int photos = 0;
        const auto deadline = e2e::Clock::now() + std::chrono::seconds(60);
        while (photos < 3 && e2e::Clock::now() < deadline &&
               program.pump(std::chrono::seconds(5), [&](const std::string& line) {
                   err += line + "\n";
                   photos += line.starts_with("photo: ");
               })) {
        }
        ::kill(program.pid(), signal);
        err += program.rest(std::chrono::seconds(10));
        EXPECT_EQ(program.wait(), 0) << "signal " << signal << ":\n" << err;
        EXPECT_NE(err.find("stats: final presented "), std::string::npos) << err;
        const auto files = filesIn(folder / "out");
        EXPECT_GE(files.size(), 3u);
        for (const auto& file : files) {
            EXPECT_TRUE(file.extension() == ".png" || file.extension() == ".jpg") << file << " left behind";
            EXPECT_FALSE(e2e::readPng(file).rgba.empty()) << file << " is whole";
        }
    }
}

} // namespace

// A signal while the program is still starting (here: reading its script, which comes
// through a pipe) ends the run once it has started, as a signal during it does; a second
// one before then ends it at once, for a start-up that does not come to an end.
TEST(Ending, ASignalDuringStartUpEndsTheRunOnceStartedAndASecondAtOnce) {
    for (const bool twice : {false, true}) {
        auto folder = e2e::scratchFolder(twice ? "early-twice" : "early");
        const auto script = folder / "script.fhs";
        ASSERT_EQ(::mkfifo(script.c_str(), 0600), 0);
        e2e::Process program(e2e::programCommand(
            folder, {"--headless", "--stats", "--script", script.string(), "--out", "out"}));
        // Opening the pipe's end returns once the program has opened the other: it is starting.
        const int writing = ::open(script.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(writing, 0);
        ::kill(program.pid(), SIGTERM);
        if (twice)
            ::kill(program.pid(), SIGINT);
        // Killed at once, the program may have closed its end before this is written.
        ::signal(SIGPIPE, SIG_IGN);
        const std::string text = "wait 1000 frames\nsnapshot never.png\n";
        const ssize_t written = ::write(writing, text.data(), text.size());
        ::close(writing);
        const std::string err = program.rest(std::chrono::seconds(10));
        EXPECT_EQ(program.wait(), twice ? -1 : 0) << err;
        if (twice)
            continue;
        EXPECT_EQ(written, ssize_t(text.size()));
        EXPECT_NE(err.find("stats: final presented "), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(folder / "out" / "never.png")) << "the script ran on";
    }
}
