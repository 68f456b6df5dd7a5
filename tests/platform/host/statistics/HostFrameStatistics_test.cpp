// --stats lines and the frame counter the `wait N frames` command sleeps on.
#include <gtest/gtest.h>

#include <thread>

#include "host/statistics/FrameCounter.h"
#include "host/statistics/FrameStatistics.h"

namespace {

using namespace std::chrono_literals;
using Clock = host::FrameCounter::Clock;

TEST(FrameStatistics, FormatsOneLineWithWhatIsKnown) {
    const host::ScreenStatistics counts{31, 30, 0, 1, 4, 26};
    EXPECT_EQ(host::formatStatistics(counts, 29, 29.04),
              "stats: produced 31, analysed 30, dropped 1, presented 29, 29.0 fps");
    // Without a camera screen only the presented count is known.
    EXPECT_EQ(host::formatStatistics(std::nullopt, 0, 0), "stats: presented 0, 0.0 fps");
    EXPECT_EQ(host::describeStatistics(counts),
              "{\"produced\": 31, \"analysed\": 30, \"notAnalysedByFilter\": 0, "
              "\"dropped\": 1, \"droppedGpuBusy\": 4, \"processed\": 26}");
}

TEST(FrameCounter, LatencyIsTheLastSecondsMedianAndNinetyNinthPercentile) {
    host::FrameCounter frames;
    EXPECT_FALSE(frames.recentLatency());
    frames.frameArrived(); // no capture time: counted, not timed
    const auto now = Clock::now();
    for (int ms = 1; ms <= 100; ++ms)
        frames.frameArrived(now - std::chrono::milliseconds(ms));
    auto latency = frames.recentLatency();
    ASSERT_TRUE(latency);
    EXPECT_EQ(latency->frames, 100u);
    EXPECT_NEAR(latency->medianMilliseconds, 50, 2);
    EXPECT_NEAR(latency->percentile99Milliseconds, 99, 2);
    EXPECT_FALSE(frames.recentLatency(Clock::now() + 2s)) << "older than a second";
    EXPECT_EQ(host::formatStatistics(std::nullopt, 3, 30, {}, std::make_pair(12.34, 20.0)),
              "stats: latency median 12.3 ms, p99 20.0 ms, presented 3, 30.0 fps");
}

TEST(FrameCounter, WaitsForFramesAndGivesUpWhenTheyStopOrWhenInterrupted) {
    using Result = host::FrameCounter::WaitResult;
    host::FrameCounter frames;
    std::thread gpu([&] {
        for (int i = 0; i < 5; ++i)
            frames.frameArrived();
    });
    EXPECT_EQ(frames.waitFor(5, 10s, Clock::time_point::max()), Result::reached);
    gpu.join();
    EXPECT_EQ(frames.count(), 5u);
    const auto start = Clock::now();
    EXPECT_EQ(frames.waitFor(6, 50ms, Clock::time_point::max()), Result::stalled);
    EXPECT_GE(Clock::now() - start, 50ms);
    EXPECT_EQ(frames.waitFor(6, 10s, Clock::now() + 20ms), Result::deadline);
    std::thread interrupter([&] { frames.interrupt(); });
    EXPECT_EQ(frames.waitFor(100, 10s, Clock::time_point::max()), Result::interrupted);
    interrupter.join();
}

} // namespace
