// The program run long and hard: headless on the virtual camera with frames as fast as
// the machine makes them, worked by a seeded random script of every gesture and device
// event a person or the system can cause. It must never hang, never crash, keep its memory
// flat, and account for every frame the camera produced.
//
//   FERNHOLD_SOAK_FRAMES  frames the script waits for in all (default 1500; by hand
//                         20000 or more, see scripts/soak.sh)
//   FERNHOLD_SOAK_SEED    the script's random seed (default 1); a failure names it
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <regex>
#include <sstream>

#include "ReliabilitySupport.h"

namespace {

using reliability::Clock;
using namespace std::chrono_literals;

// A frame must be presented at least this often while capture runs.
constexpr auto stallLimit = 5s;
// Before the first frame: the GL context, shaders and the camera come up.
constexpr auto startLimit = 60s;
// After the final statistics line the process must be gone this soon.
constexpr auto exitLimit = 10s;
// Memory samples at most this often.
constexpr auto sampleInterval = 100ms;

uint64_t setting(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || value == 0) {
        ADD_FAILURE() << name << " must be a whole number above 0, not '" << text << "'";
        return fallback;
    }
    return value;
}

struct Plan {
    std::string script;
    uint64_t frames = 0;        // frames the script waits for
    int captureStops = 0;       // disappearances: each may lose one frame in flight
    std::map<std::string, int> commands;
};

// The script: a warm-up that visits every filter, shows the controls and gives every kind
// of command once (so everything made on first use exists before memory is measured,
// which print-ui marks), then random commands between frame waits until `frames` are
// spent. Capture stops only inside a disappearance, which is always short and always ends
// by appearing and swiping (what restarts capture), so a frame wait never meets a stopped
// camera and the watchdog never mistakes a disappearance for a hang.
Plan makePlan(uint64_t frames, uint32_t seed) {
    std::mt19937 random(seed);
    auto pick = [&](int count) { return int(std::uniform_int_distribution<int>(0, count - 1)(random)); };
    auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    Plan plan;
    std::ostringstream script;
    auto command = [&](const std::string& line) {
        script << line << '\n';
        plan.commands[line.substr(0, line.find(' '))]++;
    };
    // The filter index the swipes lead to. Swipes lean towards the two filters whose
    // frames are analysed (Normal 0 and Just Luminance 5, neighbours across the wrap), so
    // the analysis runs for much of the time rather than a third of it.
    int filter = 0;
    auto swipe = [&] {
        const bool towardsAnalysed = pick(10) < 7;
        const bool left = towardsAnalysed ? (filter == 0 || filter == 1 || filter == 2) : pick(2) == 0;
        filter = (filter + (left ? 5 : 1)) % 6;
        command(left ? "swipe left" : "swipe right");
    };
    auto waitFrames = [&](uint64_t count) {
        command("wait " + std::to_string(count) + " frames");
        plan.frames += count;
    };

    script << "# soak, seed " << seed << ", " << frames << " frames\n";
    for (int step = 0; step < 6; ++step) {
        waitFrames(3);
        command("swipe right"); // six steps: back at Normal
    }
    command("doubletap");
    // Every kind of command once, a stop of capture included, then a stretch of frames
    // for the allocator's pools to settle.
    for (const char* line : {"pinch 2", "slider iso 0.5", "focus manual", "exposure manual", "pressure serious",
                             "lock refuse", "tap", "lock grant", "disappear", "wait 100ms", "appear",
                             "swipe left", "swipe right"})
        command(line);
    ++plan.captureStops;
    waitFrames(std::clamp<uint64_t>(frames / 10, 1, 100));
    command("print-ui"); // the warm-up is over

    const char* modes[] = {"locked", "manual", "auto", "continuous"};
    const char* sliders[] = {"focus", "bias", "duration", "iso"};
    const char* levels[] = {"nominal", "fair", "serious", "critical", "shutdown", "made-up"};
    while (plan.frames < frames) {
        std::ostringstream line;
        switch (pick(14)) {
        case 0:
        case 1:
            swipe();
            break;
        case 2:
            command("tap");
            break;
        case 3:
            command("doubletap");
            break;
        case 4: {
            const double scales[] = {0.01, 100, uniform(0.3, 3)};
            line << "pinch " << scales[pick(5) == 0 ? pick(2) : 2];
            command(line.str());
            break;
        }
        case 5:
            command(std::string(pick(2) ? "focus " : "exposure ") + modes[pick(4)]);
            break;
        case 6:
        case 7:
            // Values outside a slider's range too: a drag past the end must clamp.
            line << "slider " << sliders[pick(4)] << ' ' << (pick(8) == 0 ? uniform(-1e6, 1e6) : uniform(-0.5, 1.5));
            command(line.str());
            break;
        case 8:
            command(std::string("pressure ") + levels[pick(6)]);
            break;
        case 9:
            command(pick(3) == 0 ? "lock refuse" : "lock grant");
            break;
        case 10: {
            command("disappear");
            ++plan.captureStops;
            command("wait " + std::to_string(20 + pick(400)) + "ms");
            if (pick(2))
                command("tap");
            command("appear");
            swipe();
            break;
        }
        default:
            waitFrames(std::min<uint64_t>(1 + pick(40), frames - plan.frames));
            break;
        }
    }
    command("lock grant");
    waitFrames(5);
    command("quit");
    plan.script = script.str();
    return plan;
}

// "stats: ... presented N, R fps"
std::optional<uint64_t> presentedIn(const std::string& line) {
    static const std::regex pattern(R"(^stats: .*presented (\d+), [0-9.]+ fps$)");
    std::smatch match;
    if (!std::regex_match(line, match, pattern))
        return std::nullopt;
    return std::stoull(match[1]);
}

uint64_t jsonCount(const std::string& json, const std::string& key) {
    std::smatch match;
    if (!std::regex_search(json, match, std::regex("\"" + key + "\": *(-?[0-9]+)"))) {
        ADD_FAILURE() << "no " << key << " in " << json;
        return 0;
    }
    return std::stoull(match[1]);
}

double mean(const std::vector<long>& values, size_t from, size_t to) {
    return double(std::accumulate(values.begin() + long(from), values.begin() + long(to), 0.0)) / double(to - from);
}

TEST(Soak, RunsUnthrottledWithoutHangCrashLeakOrLostFrames) {
    const uint64_t frames = setting("FERNHOLD_SOAK_FRAMES", 1500);
    const uint32_t seed = uint32_t(setting("FERNHOLD_SOAK_SEED", 1));
    const Plan plan = makePlan(frames, seed);
    const auto folder = std::filesystem::temp_directory_path() / ("fernhold-soak-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto scriptFile = folder / "soak.fhs";
    std::ofstream(scriptFile) << plan.script;
    SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(frames) + " frames, script " +
                 scriptFile.string());

    reliability::WatchedProcess program({FERNHOLD_BINARY, "--headless", "--stats", "--script", scriptFile.string()},
                                        {"FERNHOLD_UNTHROTTLED=1"}, {"DISPLAY", "WAYLAND_DISPLAY"});

    std::vector<std::string> errLines;
    std::vector<std::string> ownLinesOnStdout;
    uint64_t stdoutLines = 0, presented = 0;
    std::optional<std::string> finalLine;
    bool warmedUp = false;
    std::vector<long> memory; // KiB, after the warm-up
    const auto started = Clock::now();
    auto lastProgress = started;
    auto lastSample = started;
    std::optional<Clock::time_point> finishedAt;
    std::string hang;

    auto onLine = [&](reliability::WatchedProcess::Stream stream, const std::string& line) {
        if (stream == reliability::WatchedProcess::Stream::out) {
            ++stdoutLines;
            for (const char* ours : {"stats:", "fernhold:", "script:", "{\""})
                if (line.rfind(ours, 0) == 0 && ownLinesOnStdout.size() < 5)
                    ownLinesOnStdout.push_back(line);
            return;
        }
        errLines.push_back(line);
        if (auto count = presentedIn(line); count && *count > presented) {
            presented = *count;
            lastProgress = Clock::now();
        } else if (line.rfind("stats: final ", 0) == 0) {
            finalLine = line;
            finishedAt = Clock::now();
        } else if (line.rfind("{\"", 0) == 0) {
            warmedUp = true;
        }
    };

    for (bool open = true; open;) {
        open = program.pump(sampleInterval, onLine);
        const auto now = Clock::now();
        if (warmedUp && !finishedAt && now - lastSample >= sampleInterval) {
            if (auto kib = reliability::residentKiB(program.pid()))
                memory.push_back(*kib);
            lastSample = now;
        }
        if (finishedAt) {
            if (open && now - *finishedAt > exitLimit)
                hang = "the process did not exit within 10 s of its final statistics";
        } else if (presented == 0 ? now - started > startLimit : now - lastProgress > stallLimit) {
            hang = "no frame presented for " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - lastProgress).count()) +
                   " s after " + std::to_string(presented) + " frames";
        }
        if (!hang.empty()) {
            program.killNow();
            break;
        }
    }
    const auto exit = program.wait();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    std::string tail;
    for (size_t i = errLines.size() > 15 ? errLines.size() - 15 : 0; i < errLines.size(); ++i)
        tail += errLines[i] + "\n";
    ASSERT_TRUE(hang.empty()) << hang << "; the last lines on standard error:\n" << tail;
    ASSERT_TRUE(exit.exited) << "killed by signal " << exit.status << "; the last lines on standard error:\n" << tail;
    EXPECT_EQ(exit.status, 0) << tail;
    EXPECT_TRUE(ownLinesOnStdout.empty()) << "our own lines on standard output, first: " << ownLinesOnStdout.front();
    for (const auto& line : errLines) {
        EXPECT_EQ(line.find("did not stop in time"), std::string::npos) << line;
        EXPECT_EQ(line.find(": no frame for "), std::string::npos) << "a frame wait stalled: " << line;
    }

    // Every frame the camera produced went exactly one way in the frame callback, and
    // only a stop of capture can lose one between the callback and the GPU.
    ASSERT_TRUE(finalLine) << "no final statistics line; the last lines:\n" << tail;
    const std::string json = finalLine->substr(finalLine->find('{'));
    const uint64_t produced = jsonCount(json, "produced"), analysed = jsonCount(json, "analysed"),
                   notAnalysed = jsonCount(json, "notAnalysedByFilter"), dropped = jsonCount(json, "dropped"),
                   droppedGpuBusy = jsonCount(json, "droppedGpuBusy"), processed = jsonCount(json, "processed");
    const uint64_t finalPresented = std::stoull(finalLine->substr(std::string("stats: final presented ").size()));
    EXPECT_EQ(produced, analysed + notAnalysed + dropped) << *finalLine;
    EXPECT_LE(processed + droppedGpuBusy, produced) << *finalLine;
    EXPECT_LE(produced - processed - droppedGpuBusy, uint64_t(plan.captureStops + 1))
        << "frames lost between the callback and the GPU beyond one per stop of capture: " << *finalLine;
    EXPECT_LE(finalPresented, processed) << *finalLine;
    EXPECT_GE(finalPresented, plan.frames) << "the script waited for more frames than were presented";

    // Memory: the last quarter of the run against the first, after the warm-up.
    ASSERT_GE(memory.size(), 8u) << "too few memory samples for a comparison; run more frames";
    const size_t quarter = memory.size() / 4;
    const double first = mean(memory, 0, quarter), last = mean(memory, memory.size() - quarter, memory.size());
    EXPECT_LT(last, first * 1.05) << "resident memory grew from " << first / 1024 << " MiB to " << last / 1024
                                  << " MiB";

    // For a person running it long (scripts/soak.sh): what happened.
    std::ostringstream summary;
    summary << "soak: seed " << seed << ", " << finalPresented << " frames presented in " << seconds << " s ("
            << double(finalPresented) / seconds << " fps); produced " << produced << " = analysed " << analysed
            << " + not analysed by filter " << notAnalysed << " + dropped " << dropped << "; GPU busy "
            << droppedGpuBusy << "; capture stops " << plan.captureStops << "; resident memory " << first / 1024
            << " -> " << last / 1024 << " MiB (" << (last / first - 1) * 100 << " %, " << memory.size()
            << " samples; by quarter";
    // Whether growth goes on or levels off shows in the middle quarters.
    for (size_t q = 0; q < 4; ++q) {
        const size_t from = q == 3 ? memory.size() - quarter : q * quarter;
        summary << ' ' << mean(memory, from, from + quarter) / 1024;
    }
    summary << " MiB); " << stdoutLines << " diagnostic lines on standard output; commands:";
    for (const auto& [name, count] : plan.commands)
        summary << ' ' << name << ' ' << count;
    std::fprintf(stderr, "%s\n", summary.str().c_str());
    if (!HasFailure())
        std::filesystem::remove_all(folder);
}

} // namespace
