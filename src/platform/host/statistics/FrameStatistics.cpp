#include "host/statistics/FrameStatistics.h"

#include <cmath>
#include <cstdio>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/statistics/FrameCounter.h"

namespace host {

std::string formatStatistics(const std::optional<ScreenStatistics>& screen, uint64_t presented,
                             double framesPerSecond, std::string_view frameRateControl,
                             std::optional<std::pair<double, double>> latencyMilliseconds) {
    std::string line = "stats:";
    if (screen) {
        char counts[160];
        std::snprintf(counts, sizeof counts, " produced %llu, analysed %llu, dropped %lld,",
                      static_cast<unsigned long long>(screen->produced),
                      static_cast<unsigned long long>(screen->analysed),
                      static_cast<long long>(screen->dropped));
        line += counts;
    }
    if (latencyMilliseconds) {
        char latency[96];
        std::snprintf(latency, sizeof latency, " latency median %.1f ms, p99 %.1f ms,",
                      latencyMilliseconds->first, latencyMilliseconds->second);
        line += latency;
    }
    char tail[96];
    std::snprintf(tail, sizeof tail, " presented %llu, %.1f fps", static_cast<unsigned long long>(presented),
                  framesPerSecond);
    line += tail;
    if (!frameRateControl.empty())
        line.append(", ").append(frameRateControl);
    return line;
}

std::string describeStatistics(const ScreenStatistics& screen) {
    char json[256];
    std::snprintf(
        json, sizeof json,
        "{\"produced\": %llu, \"analysed\": %llu, \"notAnalysedByFilter\": %llu, \"dropped\": %lld, "
        "\"droppedGpuBusy\": %llu, \"processed\": %llu}",
        static_cast<unsigned long long>(screen.produced), static_cast<unsigned long long>(screen.analysed),
        static_cast<unsigned long long>(screen.notAnalysedByFilter), static_cast<long long>(screen.dropped),
        static_cast<unsigned long long>(screen.droppedGpuBusy),
        static_cast<unsigned long long>(screen.processed));
    return json;
}

StatisticsReporter::StatisticsReporter(const FrameCounter& frames, ScreenCounts screenCounts,
                                       FrameRateControl frameRateControl, ReadBackCount readBack)
    : frames_(frames), screenCounts_(std::move(screenCounts)), frameRateControl_(std::move(frameRateControl)),
      readBack_(std::move(readBack)) {}

void StatisticsReporter::start() {
    lastPresented_ = frames_.count();
    lastReadBack_ = readBack_ ? readBack_() : 0;
    lastTick_ = std::chrono::steady_clock::now();
    std::weak_ptr<StatisticsReporter> weak = weak_from_this();
    DispatchQueue::main().asyncAfter(std::chrono::seconds(1), [weak] {
        if (auto self = weak.lock())
            self->tick();
    });
}

void StatisticsReporter::stop() {
    stopped_ = true;
}

void StatisticsReporter::tick() {
    if (stopped_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const uint64_t presented = frames_.count();
    const double elapsed = std::chrono::duration<double>(now - lastTick_).count();
    const double rate = elapsed > 0 ? static_cast<double>(presented - lastPresented_) / elapsed : 0;
    std::optional<std::pair<double, double>> latency;
    if (auto recent = frames_.recentLatency(now))
        latency = std::make_pair(recent->medianMilliseconds, recent->percentile99Milliseconds);
    std::string line = formatStatistics(screenCounts_ ? screenCounts_() : std::nullopt, presented, rate,
                                        frameRateControl_ ? frameRateControl_() : std::string(), latency);
    if (readBack_)
        line += ", read back " + std::to_string(readBack_() - lastReadBack_) + " frames";
    for (const auto& note : notes_)
        if (const std::string text = note(); !text.empty())
            line += ", " + text;
    foundation::logError(line);
    start();
}

} // namespace host
