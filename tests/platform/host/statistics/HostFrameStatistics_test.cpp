// --stats lines and the frame counter the `wait N frames` command sleeps on.
#include <gtest/gtest.h>

#include <thread>

#include "host/statistics/FrameCounter.h"
#include "host/statistics/FrameStatistics.h"

namespace {

using namespace std::chrono_literals;
using Clock = host::FrameCounter::Clock;

TEST(FrameStatistics, FormatsOneLineWithWhatIsKnown) {
    EXPECT_EQ(host::formatStatistics(R"({"produced": 31, "analysed": 30, "dropped": 1, "droppedGpuBusy": 4})",
                                     29, 29.04),
              "stats: produced 31, analysed 30, dropped 1, presented 29, 29.0 fps");
    // Older controllers say "processed"; without the controller only the screen's count is known.
    EXPECT_EQ(host::formatStatistics(R"({"produced": 5, "processed": 4})", 4, 4),
              "stats: produced 5, analysed 4, presented 4, 4.0 fps");
    EXPECT_EQ(host::formatStatistics(std::nullopt, 0, 0), "stats: presented 0, 0.0 fps");
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
