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
#include <numeric>
#include <optional>
#include <random>

#include "e2e/HostE2eSupport.h"

namespace {

using e2e::Clock;
using namespace std::chrono_literals;

uint64_t setting(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::stoull(text) : fallback; // not a number: the test fails on the exception
}

struct Plan {
    std::string script;
    uint64_t frames = 0;  // frames the script waits for
    int captureStops = 0; // disappearances: each may lose one frame in flight
};

// The script: a warm-up that visits every filter, shows the controls, sweeps the lens and
// gives every kind of command once (so everything made on first use exists before memory
// is measured, which print-ui marks), then random commands between frame waits until
// `frames` are spent. Capture stops only inside a disappearance, which is always short
// and always ends by appearing and swiping (what restarts capture), so a frame wait never
// meets a stopped camera and the watchdog never mistakes a disappearance for a hang.
Plan makePlan(uint64_t frames, uint32_t seed) {
    std::mt19937 random(seed);
    auto pick = [&](int count) { return int(std::uniform_int_distribution<int>(0, count - 1)(random)); };
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    Plan plan;
    std::ostringstream script;
    auto command = [&](const std::string& line) { script << line << '\n'; };
    // Swipes lean towards the two filters whose frames are analysed (Normal 0 and Just
    // Luminance 5, neighbours across the wrap), so the analysis runs much of the time.
    int filter = 0;
    auto swipe = [&] {
        const bool left = pick(10) < 7 ? (filter == 0 || filter == 1 || filter == 2) : pick(2) == 0;
        filter = (filter + (left ? 5 : 1)) % 6;
        command(left ? "swipe left" : "swipe right");
    };
    auto waitFrames = [&](uint64_t count) {
        command("wait " + std::to_string(count) + " frames");
        plan.frames += count;
    };

    // The virtual camera blurs each depth layer at a width the first time a lens position
    // needs it, so the warm-up sweeps the lens across its whole range (a touch on the
    // slider locks the lens, which hides the slider until manual is chosen again).
    script << "# soak, seed " << seed << ", " << frames << " frames\ndoubletap\n";
    for (int step = 0; step < 24; ++step) { // the sweep, then six swipes: back at Normal
        command(step < 18 ? "focus manual\nslider focus " + std::to_string(step / 17.0) : "swipe right");
        waitFrames(2);
    }
    for (const char* line :
         {"pinch 2", "slider iso 0.5", "exposure manual", "pressure serious", "lock refuse", "tap",
          "lock grant", "disappear", "wait 100ms", "appear", "swipe left", "swipe right"})
        command(line);
    ++plan.captureStops;
    waitFrames(std::clamp<uint64_t>(frames / 10, 1, 100)); // for the allocator's pools to settle
    command("print-ui");                                   // the warm-up is over

    const char* modes[] = {"locked", "manual", "auto", "continuous"};
    const char* sliders[] = {"focus", "bias", "duration", "iso"};
    const char* levels[] = {"nominal", "fair", "serious", "critical", "shutdown", "made-up"};
    auto number = [](const std::string& what, double value) {
        return (std::ostringstream() << what << value).str();
    };
    auto slider = [&] { // values outside a slider's range too: a drag past the end must clamp
        const std::string which = std::string("slider ") + sliders[pick(4)] + ' ';
        command(number(which, pick(8) == 0 ? uniform(-1e6, 1e6) : uniform(-0.5, 1.5)));
    };
    const std::function<void()> steps[] = {
        swipe,
        swipe,
        [&] { command("tap"); },
        [&] { command("doubletap"); },
        [&] {
            const double scales[] = {0.01, 100, uniform(0.3, 3)};
            command(number("pinch ", scales[pick(5) == 0 ? pick(2) : 2]));
        },
        [&] { command(std::string(pick(2) ? "focus " : "exposure ") + modes[pick(4)]); },
        slider,
        slider,
        [&] { command(std::string("pressure ") + levels[pick(6)]); },
        [&] { command(pick(3) == 0 ? "lock refuse" : "lock grant"); },
        [&] {
            command("disappear");
            ++plan.captureStops;
            command("wait " + std::to_string(20 + pick(400)) + "ms");
            if (pick(2))
                command("tap");
            command("appear");
            swipe();
        },
    };
    while (plan.frames < frames) {
        const int step = pick(14);
        if (step < 11)
            steps[step]();
        else // frame waits the rest of the time
            waitFrames(std::min<uint64_t>(1 + pick(40), frames - plan.frames));
    }
    command("lock grant");
    waitFrames(5);
    command("quit");
    plan.script = script.str();
    return plan;
}

// Resident memory of `pid` in KiB (VmRSS in /proc/PID/status); nothing once it has gone.
std::optional<long> residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return std::nullopt;
}

TEST(Soak, RunsUnthrottledWithoutHangCrashLeakOrLostFrames) {
    const uint64_t frames = setting("FERNHOLD_SOAK_FRAMES", 1500);
    const uint32_t seed = uint32_t(setting("FERNHOLD_SOAK_SEED", 1));
    const Plan plan = makePlan(frames, seed);
    const auto folder = e2e::scratchFolder("soak");
    const std::string scriptFile = e2e::writeScript(folder, plan.script);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(frames) + " frames, script " +
                 scriptFile);

    e2e::Process program(e2e::programCommand(
        folder, {"--headless", "--stats", "--script", scriptFile},
        {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "FERNHOLD_UNTHROTTLED=1", e2e::smallQuarantine()}));
    e2e::Lines errLines;
    uint64_t presented = 0;
    std::optional<std::string> finalLine;
    bool warmedUp = false;
    std::vector<long> memory; // KiB, after the warm-up, at most every 100 ms
    const auto started = Clock::now();
    auto lastProgress = started, lastSample = started;
    std::optional<Clock::time_point> finishedAt;
    std::string hang;
    const std::regex statsLine(R"(^stats: .*presented (\d+), [0-9.]+ fps(, .*)?$)");
    auto onLine = [&](const std::string& line) {
        errLines.push_back(line);
        std::smatch match;
        if (std::regex_match(line, match, statsLine) && std::stoull(match[1]) > presented) {
            presented = std::stoull(match[1]);
            lastProgress = Clock::now();
        } else if (line.starts_with("stats: final ")) {
            finalLine = line;
            finishedAt = Clock::now();
        } else {
            warmedUp = warmedUp || line.starts_with("{\"");
        }
    };
    for (bool open = true; open && hang.empty();) {
        open = program.pump(100ms, onLine);
        const auto now = Clock::now();
        if (warmedUp && !finishedAt && now - lastSample >= 100ms) {
            if (auto kib = residentKiB(program.pid()))
                memory.push_back(*kib);
            lastSample = now;
        }
        // A frame at least every 5 s while capture runs (60 s for the first, while the GL
        // context, shaders and camera come up), and gone within 10 s of the final line.
        if (finishedAt ? open && now - *finishedAt > 10s : now - lastProgress > (presented ? 5s : 60s))
            hang = finishedAt
                       ? "the process did not exit within 10 s of its final statistics"
                       : "no frame presented for a while after " + std::to_string(presented) + " frames";
    }
    const int status = hang.empty() ? program.wait() : program.stop(SIGKILL);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::string tail; // the last lines on standard error, for the messages
    for (size_t i = errLines.size() > 15 ? errLines.size() - 15 : 0; i < errLines.size(); ++i)
        tail += errLines[i] + "\n";
    ASSERT_TRUE(hang.empty()) << hang << "; the last lines on standard error:\n" << tail;
    ASSERT_EQ(status, 0) << "the last lines on standard error (-1: killed by a signal):\n" << tail;
    for (const auto& line : e2e::linesOf(e2e::slurp(folder / "stdout.txt")))
        for (const char* ours : {"stats:", "fernhold:", "script:", "{\""})
            ASSERT_FALSE(line.starts_with(ours)) << "our own line on standard output: " << line;
    for (const auto& line : errLines) {
        EXPECT_EQ(line.find("did not stop in time"), std::string::npos) << line;
        EXPECT_EQ(line.find(": no frame for "), std::string::npos) << "a frame wait stalled: " << line;
    }

    // Every frame the camera produced went exactly one way in the frame callback, and
    // only a stop of capture can lose one between the callback and the GPU.
    ASSERT_TRUE(finalLine) << "no final statistics line; the last lines:\n" << tail;
    auto count = [json = finalLine->substr(finalLine->find('{'))](const char* key) {
        const auto value = e2e::jsonNumberField(json, key);
        EXPECT_TRUE(value) << "no " << key << " in " << json;
        return uint64_t(value.value_or(0));
    };
    const uint64_t produced = count("produced"), analysed = count("analysed"),
                   notAnalysed = count("notAnalysedByFilter"), dropped = count("dropped"),
                   droppedGpuBusy = count("droppedGpuBusy"), processed = count("processed");
    const uint64_t finalPresented =
        std::stoull(finalLine->substr(std::string("stats: final presented ").size()));
    EXPECT_EQ(produced, analysed + notAnalysed + dropped) << *finalLine;
    EXPECT_LE(processed + droppedGpuBusy, produced) << *finalLine;
    EXPECT_LE(produced - processed - droppedGpuBusy, uint64_t(plan.captureStops + 1))
        << "frames lost between the callback and the GPU beyond one per stop of capture: " << *finalLine;
    EXPECT_LE(finalPresented, processed) << *finalLine;
    EXPECT_GE(finalPresented, plan.frames) << "the script waited for more frames than were presented";

    // Memory: the last quarter of the run against the first, after the warm-up.
    ASSERT_GE(memory.size(), 8u) << "too few memory samples for a comparison; run more frames";
    const long quarter = long(memory.size() / 4);
    const double first =
        std::accumulate(memory.begin(), memory.begin() + quarter, 0.0) / double(quarter) / 1024;
    const double last = std::accumulate(memory.end() - quarter, memory.end(), 0.0) / double(quarter) / 1024;
    EXPECT_LT(last, first * 1.05) << "resident memory grew from " << first << " MiB to " << last << " MiB";

    // For a person running it long (scripts/soak.sh): what happened, as the last line.
    std::fprintf(stderr, "soak: seed %u, %llu frames in %.0f s, %d capture stops, memory %.1f -> %.1f MiB\n",
                 seed, (unsigned long long)finalPresented, seconds, plan.captureStops, first, last);
    if (!HasFailure())
        std::filesystem::remove_all(folder);
}

} // namespace
