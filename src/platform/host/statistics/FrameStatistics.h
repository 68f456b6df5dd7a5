#pragma once
// --stats: once a second, one line on standard error with what the camera produced, what
// the analysis took, what was dropped, what the render view presented, and the rate.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/UIViewController.h"

namespace host {

class FrameCounter;

using ScreenStatistics = UIViewController::FrameStatistics;

// "stats: produced 30, analysed 29, dropped 1, presented 29, 29.0 fps". `screen` is the
// camera screen's counts; without them only the presented count is known. A throttled
// webcam adds how its rate is kept: ", rate set on the camera 1/5 s" (VIDIOC_S_PARM) or
// ", rate kept in software 1/5 s" (frames dropped).
// Where the frames came with capture times, how late they were shown comes before the
// presented count: ", latency median 12.3 ms, p99 20.1 ms".
std::string formatStatistics(const std::optional<ScreenStatistics>& screen, uint64_t presented,
                             double framesPerSecond, std::string_view frameRateControl = {},
                             std::optional<std::pair<double, double>> latencyMilliseconds = std::nullopt);

// The screen's counts as the final line gives them, a JSON object:
// {"produced": 31, "analysed": 31, "notAnalysedByFilter": 0, "dropped": 0, ...}.
std::string describeStatistics(const ScreenStatistics& screen);

// Ticks on the main queue. `screenCounts` is asked on the main thread at each tick.
class StatisticsReporter : public std::enable_shared_from_this<StatisticsReporter> {
  public:
    using ScreenCounts = std::function<std::optional<ScreenStatistics>()>;
    // "rate set on the camera 1/5 s", "rate kept in software 1/5 s" or "" (see
    // V4L2CaptureDevice::frameRateControl).
    using FrameRateControl = std::function<std::string()>;
    // Frames read back from the GPU since the start (see RenderView::readBackCount); the
    // line adds how many were read back in the last second: ", read back 0 frames".
    using ReadBackCount = std::function<uint64_t()>;
    StatisticsReporter(const FrameCounter& frames, ScreenCounts screenCounts,
                       FrameRateControl frameRateControl = {}, ReadBackCount readBack = {});
    // Main thread, before start(): a count of another part, appended to every line
    // after a comma ("output dropped 0"); an empty note adds nothing.
    void addNote(std::function<std::string()> note) { notes_.push_back(std::move(note)); }
    void start(); // main thread
    void stop();  // main thread; no line after this

  private:
    void tick();
    const FrameCounter& frames_;
    ScreenCounts screenCounts_;
    FrameRateControl frameRateControl_;
    ReadBackCount readBack_;
    std::vector<std::function<std::string()>> notes_;
    bool stopped_ = false;
    uint64_t lastPresented_ = 0, lastReadBack_ = 0;
    std::chrono::steady_clock::time_point lastTick_;
};

} // namespace host
