// Recording, through the program and the files it leaves, read back by ffprobe and ffmpeg:
// picture and sound in step (from a PulseAudio server of the test's own with a tone on
// its null sink), files cut short that still play, and faults that leave the run going.
#include <gtest/gtest.h>

#include <map>

#include "e2e/HostE2eSupport.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

// What `command` prints, its errors too unless they are sent elsewhere (`merged` false).
std::string output(const std::string& command, bool merged = true) {
    std::string text;
    if (FILE* pipe = popen((command + (merged ? " 2>&1" : "")).c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, got);
        pclose(pipe);
    }
    return text;
}

// Each stream of `file` as ffprobe reads it, the frames counted by decoding: "codec_type",
// "codec_name", "profile", "pix_fmt", "sample_rate", "duration", "nb_read_frames".
std::vector<std::map<std::string, std::string>> streams(const fs::path& file) {
    std::vector<std::map<std::string, std::string>> found;
    for (const auto& line :
         linesOf(output("ffprobe -v error -count_frames -show_entries stream -of compact=p=0" +
                        quoted({file.string()})))) {
        auto& fields = found.emplace_back();
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');)
            if (auto at = part.find('='); at != std::string::npos)
                fields[part.substr(0, at)] = part.substr(at + 1);
    }
    return found;
}

// How far into the file its picture decodes: the last frame's time.
double decodedSeconds(const fs::path& file) {
    double last = -1;
    for (const auto& line :
         linesOf(output("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of "
                        "csv=p=0" +
                        quoted({file.string()}))))
        last = std::max(last, std::atof(line.c_str()));
    return last;
}

double number(const std::map<std::string, std::string>& stream, const std::string& key) {
    auto found = stream.find(key);
    return found == stream.end() ? -1 : std::atof(found->second.c_str());
}

// "recording: saved FILE (9.12 s; 124 frames presented, …)": the file, its length, frames.
struct Saved {
    fs::path file;
    double seconds = -1;
    long presented = -1;
};
Saved savedLine(const Run& run, const std::string& how = "saved") {
    std::smatch match;
    for (const auto& line : run.errLines)
        if (std::regex_search(
                line, match,
                std::regex("recording: " + how + " ([^ ]+\\.mp4)[^(]*\\(([0-9.]+) s; ([0-9]+) frames")))
            return {match[1].str(), std::stod(match[2]), std::stol(match[3])};
    return {};
}

long linesWith(const Run& run, const std::string& text) {
    return std::count_if(run.errLines.begin(), run.errLines.end(),
                         [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

class Recording : public ::testing::Test {
  protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        // A recording is held to real time (frames, durations, what a kill leaves), which
        // the program under the thread sanitizer cannot keep: its camera runs at a few
        // frames a second. The recorder's threads are checked by hand there instead.
        GTEST_SKIP() << "real-time bounds do not hold under the thread sanitizer";
#endif
        if (!installed("ffprobe") || !installed("ffmpeg"))
            GTEST_SKIP() << "ffmpeg is not installed (scripts/setup.sh test)";
        folder_ = scratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    // A sound server of our own: a null sink playing a tone, whose monitor is the default
    // source. The daemon answers once it is ready, so nothing waits for it to come up. The
    // program's environment to reach it, or nothing when it cannot start.
    Lines withSoundServer() {
        if (!installed("pulseaudio"))
            return {};
        const fs::path runtime = folder_ / "pulse";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        const std::string socket = (runtime / "native").string();
        const std::string environment = "HOME=" + runtime.string() + " XDG_RUNTIME_DIR=" + runtime.string();
        if (std::system((environment +
                         " pulseaudio --daemonize=yes --exit-idle-time=-1 -n --log-target=stderr" +
                         quoted({"--load=module-null-sink sink_name=room",
                                 "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                                 "--load=module-sine sink=room frequency=440"}) +
                         " 2>" + (folder_ / "pulse.log").string())
                            .c_str()) != 0)
            return {};
        stopServer_ = environment + " pulseaudio --kill";
        return noDisplayAnd({"PULSE_SERVER=unix:" + socket});
    }
    void TearDown() override {
        if (!stopServer_.empty()) {
            EXPECT_EQ(std::system(stopServer_.c_str()), 0);
        }
    }
    Lines args(const Lines& more) const {
        Lines all{"--headless", "--videos", (folder_ / "videos").string(), "--out", folder_.string()};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
    fs::path folder_;
    std::string stopServer_;
};

// Ten seconds of the virtual camera with three throttled to a lower rate: picture and sound
// last the recorded time, each frame presented is in the file once, and the first frames
// are the picture a capture took then.
TEST_F(Recording, PictureAndSoundLastTheTimeRecordedThrottledOrNot) {
    const Lines environment = withSoundServer();
    if (environment.empty())
        GTEST_SKIP() << "no PulseAudio daemon could start (scripts/setup.sh test)";
    const e2e::Run run = runProgram(folder_, args({"--script", writeScript(folder_, R"(wait 10 frames
focus locked
exposure locked
wait 10 frames
record start
capture first.png
wait 4s
pressure serious
wait 3s
pressure nominal
wait 3s
record stop
)")}),
                                    "", environment);
    ASSERT_EQ(run.status, 0) << run.err;
    const Saved saved = savedLine(run);
    ASSERT_TRUE(fs::exists(saved.file)) << run.err;
    EXPECT_NEAR(saved.seconds, 10, 0.5);
    const auto found = streams(saved.file);
    ASSERT_EQ(found.size(), 2u) << run.err;
    const auto &video = found[0], &audio = found[1];
    EXPECT_EQ(video.at("codec_name"), "h264");
    EXPECT_EQ(video.at("pix_fmt"), "yuv420p");
    EXPECT_EQ(audio.at("codec_name"), "aac");
    EXPECT_EQ(audio.at("profile"), "LC");
    EXPECT_EQ(audio.at("sample_rate"), "48000");
    EXPECT_NEAR(number(video, "nb_read_frames"), double(saved.presented), 2);
    // The throttled stretch has fewer frames, each shown longer: the file is not sped up.
    EXPECT_LT(number(video, "nb_read_frames"), 30 * saved.seconds - 30);
    EXPECT_NEAR(number(video, "duration"), saved.seconds, 0.1);
    EXPECT_NEAR(number(audio, "duration"), saved.seconds, 0.1);
    EXPECT_NEAR(number(video, "duration"), number(audio, "duration"), 0.1);
    // The picture a capture took then, within encoding error. H.264 smooths the sensor's
    // noise and halves the colour resolution, so pixels are compared as the means of 16 by
    // 16 blocks, which keep the picture (its filter, outlines and placement) and lose the
    // noise. The recorder takes its first frame once its encoder runs, a frame or two either
    // side of the capture's on a loaded machine, so the closest of the first frames counts;
    // focus and exposure are held for it, so that only the lamps and the noise move.
    const Picture captured = readPng(folder_ / "first.png");
    const size_t frameBytes = captured.rgba.size(), framesCompared = 8;
    // The pixels alone on standard output: anything ffmpeg says goes beside them, for the
    // failure's message.
    const fs::path decodeErrors = folder_ / "decode.err";
    const std::string decoded =
        output("ffmpeg -v error -i" + quoted({saved.file.string()}) + " -fps_mode passthrough -frames:v " +
                   std::to_string(framesCompared) + " -f rawvideo -pix_fmt rgba - 2>" +
                   quoted({decodeErrors.string()}).substr(1),
               false);
    ASSERT_EQ(decoded.size(), frameBytes * framesCompared) << std::ifstream(decodeErrors).rdbuf();
    const auto blockMeans = [&](const unsigned char* rgba) {
        const int block = 16, columns = captured.width / block, rows = captured.height / block;
        std::vector<double> means(size_t(columns * rows * 3));
        for (int y = 0; y < rows * block; ++y)
            for (int x = 0; x < columns * block; ++x)
                for (int c = 0; c < 3; ++c)
                    means[size_t(((y / block) * columns + x / block) * 3 + c)] +=
                        rgba[(size_t(y) * captured.width + x) * 4 + c] / double(block * block);
        return means;
    };
    const auto expected = blockMeans(captured.rgba.data());
    double closest = 255;
    for (size_t frame = 0; frame < framesCompared; ++frame) {
        const auto got =
            blockMeans(reinterpret_cast<const unsigned char*>(decoded.data()) + frame * frameBytes);
        double difference = 0;
        for (size_t i = 0; i < got.size(); ++i)
            difference += std::abs(got[i] - expected[i]);
        closest = std::min(closest, difference / double(got.size()));
    }
    EXPECT_LT(closest, 3);
}

// In a run that serves the picture, a recording takes the served stream rather than encode
// the picture again: one encoder for the viewers and the file, with the sound beside it.
// The camera is throttled to 5 frames a second, where any frame the file lacks shows: it
// must start with the recording (not at the stream's next periodic keyframe, six seconds on
// at this rate) and end with it, the frames presented just before the stop included.
TEST_F(Recording, WithThePictureServedTheFileTakesTheServedStream) {
    const Lines environment = withSoundServer();
    if (environment.empty())
        GTEST_SKIP() << "no PulseAudio daemon could start (scripts/setup.sh test)";
    const std::string script =
        "wait 10 frames\npressure serious\nwait 1s\nrecord start\nwait 4s\nrecord stop\n";
    const e2e::Run run = runProgram(folder_, args({"--serve", "0", "--script", writeScript(folder_, script)}),
                                    "", environment);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(linesWith(run, "(shared x264enc, with sound)"), 1) << run.err;
    const Saved saved = savedLine(run);
    ASSERT_TRUE(fs::exists(saved.file)) << run.err;
    const auto found = streams(saved.file);
    ASSERT_EQ(found.size(), 2u) << run.err;
    const auto &video = found[0], &audio = found[1];
    EXPECT_EQ(video.at("profile"), "Constrained Baseline") << "the served stream's";
    EXPECT_EQ(audio.at("codec_name"), "aac");
    EXPECT_NEAR(number(video, "nb_read_frames"), double(saved.presented), 2);
    // The picture lasts the recording to within a frame at this rate (0.2 s), the sound to
    // within encoding's granularity.
    EXPECT_NEAR(number(video, "duration"), saved.seconds, 0.3);
    EXPECT_NEAR(number(audio, "duration"), saved.seconds, 0.2);
}

// Cut by SIGKILL, the file plays up to its last fragment; ended by SIGTERM, it is an
// ordinary MP4 with its length in its moov and the run ends as quitting does. Without a
// sound server the picture is recorded alone, and one line says so.
TEST_F(Recording, CutShortItPlaysStoppedItIsFinalised) {
    for (int signal : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(signal);
        fs::remove_all(folder_ / "videos");
        const Lines environment = noDisplayAnd({"PULSE_SERVER=unix:" + (folder_ / "no-server").string()});
        Process program(programCommand(
            folder_, args({"--record", "--script", writeScript(folder_, "wait 5s\nprint-ui\nwait 60s\n")}),
            environment));
        e2e::Run run;
        while (program.pump(std::chrono::seconds(30), [&](const std::string& line) {
            run.errLines.push_back(line);
            if (line.starts_with("{\""))
                kill(program.pid(), signal);
        })) {
        }
        run.status = program.wait();
        ASSERT_EQ(linesWith(run, "{\""), 1);
        EXPECT_EQ(linesWith(run, "no audio server"), 1);
        const auto files = std::vector<fs::directory_entry>(fs::directory_iterator(folder_ / "videos"), {});
        ASSERT_EQ(files.size(), 1u);
        const fs::path file = files[0].path();
        // Every frame decoded at its own time (the null output's frame-rate grid would
        // round two frames of an uneven camera onto one tick).
        EXPECT_EQ(output("ffmpeg -v error -i" + quoted({file.string()}) + " -enc_time_base -1 -f null -"),
                  "");
        const auto found = streams(file);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].at("codec_type"), "video");
        EXPECT_GE(decodedSeconds(file), signal == SIGKILL ? 3.5 : 4.5);
        if (signal == SIGTERM) {
            EXPECT_EQ(run.status, 0);
            const Saved saved = savedLine(run);
            EXPECT_EQ(saved.file, file);
            EXPECT_NEAR(number(found[0], "duration"), saved.seconds, 0.1);
            // The file's last box is a moov with every sample, no longer announcing fragments.
            const std::string bytes = slurp(file);
            std::string last;
            for (size_t at = 0, size = 8; at + 8 <= bytes.size() && size >= 8; at += size) {
                size = size_t(uint8_t(bytes[at])) << 24 | size_t(uint8_t(bytes[at + 1])) << 16 |
                       size_t(uint8_t(bytes[at + 2])) << 8 | size_t(uint8_t(bytes[at + 3]));
                last = bytes.substr(at + 4, 4) + (bytes.find("mvex", at) == std::string::npos ? "" : "+mvex");
            }
            EXPECT_EQ(last, "moov");
        }
    }
}

// A folder that cannot be made and a disk that fills mid-recording: one line each, what
// was written plays, and the run goes on to end well. --no-audio records without a word.
TEST_F(Recording, FaultsStopTheRecordingNotTheRun) {
    std::ofstream(folder_ / "a-file") << "not a folder";
    const e2e::Run unwritable =
        runProgram(folder_, {"--headless", "--videos", (folder_ / "a-file" / "videos").string(), "--record",
                             "--seconds", "2", "--no-audio"});
    EXPECT_EQ(unwritable.status, 0);
    EXPECT_EQ(linesWith(unwritable, "recording: not started: cannot create"), 1) << unwritable.err;

    const Lines environment =
        noDisplayAnd({"LD_PRELOAD=" FULL_DISK_PRELOAD, "FERNHOLD_FULL_DISK_BYTES=400000"});
    const e2e::Run full =
        runProgram(folder_, args({"--no-audio", "--script", writeScript(folder_, "record start\nwait 6s\n")}),
                   "", environment);
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(linesWith(full, "recording: "), 2) << full.err; // started, stopped, nothing about sound
    const Saved kept = savedLine(full, "stopped: No space left[^;]*;");
    ASSERT_TRUE(fs::exists(kept.file)) << full.err;
    const auto found = streams(kept.file);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_GE(number(found[0], "nb_read_frames"), 10);
}

} // namespace
