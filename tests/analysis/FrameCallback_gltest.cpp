// The frame callback on the camera screen: which frames are analysed, the label, the
// overlay lines and the drop path when frames arrive from two threads at once.
#include <condition_variable>
#include <thread>

#include "support/Bitmaps.h"
#include "support/ScreenFixture.h"

namespace {
// Delivers `sample` on a thread of its own, as the camera's capture thread would, while
// the test's main thread runs the main queue.
void deliver(CameraViewController& screen, const CMSampleBufferRef& sample) {
    std::atomic<bool> done{false};
    std::thread capture([&] {
        screen.didCaptureBuffer(sample);
        done = true;
    });
    runMainUntil([&] { return done.load(); });
    capture.join();
    runMainUntil([] { return false; }, std::chrono::milliseconds(5)); // the queued label update
}
} // namespace

using FrameCallback = ScreenFixture;

TEST_F(FrameCallback, AnalysedFramesSetTheLabelAndOutlineTheirBrightRegions) {
    TestBitmap spot;
    spot.set(100, 50, 255, 255, 255);
    deliver(*screen, spot.sample());
    EXPECT_EQ(screen->luminosityLabel->text(), "255");
    EXPECT_EQ(printed.count("found 1 bounding boxes"), 1u);
    auto lines = screen->lineGenerator()->lastLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_FLOAT_EQ(lines[0].start.x, -0.71875f);

    TestBitmap black;                // the next frame's empty list replaces the outline
    screen->selectedFilterIndex = 5; // luminance is analysed too
    deliver(*screen, black.sample(2));
    EXPECT_EQ(screen->luminosityLabel->text(), "0");
    EXPECT_EQ(printed.count("found 0 bounding boxes"), 1u);
    EXPECT_TRUE(screen->lineGenerator()->lastLines().empty());
    EXPECT_EQ(printed.countStartingWith("dropping frame"), 0u);
    EXPECT_EQ(screen->dropCount.load(), 0);
}

// A label update queued before a switch to another filter changes nothing either.
TEST_F(FrameCallback, OtherFiltersPassFramesOverWithoutTouchingThem) {
    TestBitmap white;
    white.fill(255, 255, 255);
    for (int64_t index : {1, 2, 3, 4}) {
        screen->selectedFilterIndex = index;
        deliver(*screen, white.sample());
    }
    EXPECT_TRUE(printed.lines().empty());
    EXPECT_EQ(screen->luminosityLabel->text(), "");
    EXPECT_FALSE(screen->_isBusyProcessingCapture.load());
    EXPECT_EQ(screen->frameStatistics()->notAnalysedByFilter, 4u);
    screen->updateLuminosityLabel(200.0f);
    EXPECT_EQ(screen->luminosityLabel->text(), "");
    screen->selectedFilterIndex = 0;
    screen->updateLuminosityLabel(127.99999f);
    EXPECT_EQ(screen->luminosityLabel->text(), "128");
}

TEST_F(FrameCallback, AFrameArrivingDuringAnAnalysisIsDroppedAndCounted) {
    // Frame A's analysis is held at its "found" line until frame B, delivered from a
    // second thread, has taken its busy step.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
    std::thread second;
    TestBitmap frame;
    frame.set(10, 10, 255, 255, 255);
    foundation::setPrintSink([&](std::string_view line) {
        std::unique_lock lock(mutex);
        lines.emplace_back(line);
        changed.notify_all();
        if (line.rfind("found", 0) == 0 && !second.joinable()) {
            second = std::thread([&] { screen->didCaptureBuffer(frame.sample(2)); });
            changed.wait(lock, [&] {
                return std::find(lines.begin(), lines.end(), "dropping frame 0") != lines.end();
            });
        }
    });
    deliver(*screen, frame.sample(1));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(second.joinable());
    }
    runMainUntil([&] { return false; }, std::chrono::milliseconds(20));
    second.join();
    foundation::setPrintSink(nullptr);

    EXPECT_EQ(std::count(lines.begin(), lines.end(), "dropping frame 0"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "found 1 bounding boxes"), 1); // B was not analysed
    EXPECT_EQ(screen->dropCount.load(), 1);
    EXPECT_FALSE(screen->_isBusyProcessingCapture.load()); // cleared when A ended, for the next frame
}
