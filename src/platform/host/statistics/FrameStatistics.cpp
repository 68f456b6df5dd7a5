#include "host/statistics/FrameStatistics.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/statistics/FrameCounter.h"

namespace host {

std::optional<double> jsonNumberField(std::string_view json, std::string_view key) {
    // Built by appending: GCC 12 at -O3 misreads `"\"" + std::string(key) + "\""` as an
    // overlapping copy (-Wrestrict).
    std::string quotedKey;
    quotedKey.reserve(key.size() + 2);
    quotedKey.append(1, '"').append(key).append(1, '"');
    size_t at = 0;
    while ((at = json.find(quotedKey, at)) != std::string_view::npos) {
        size_t i = at + quotedKey.size();
        at = i;
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t'))
            ++i;
        if (i >= json.size() || json[i] != ':')
            continue; // the text was a value, not a key
        ++i;
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t'))
            ++i;
        double value = 0;
        auto [end, error] = std::from_chars(json.data() + i, json.data() + json.size(), value);
        if (error != std::errc{} || !std::isfinite(value))
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::string formatStatistics(const std::optional<std::string>& cameraJson, uint64_t presented,
                             double framesPerSecond, std::string_view frameRateControl,
                             std::optional<std::pair<double, double>> latencyMilliseconds) {
    std::string line = "stats:";
    // The controller's names for each count, in the order it is most likely to use them.
    auto first = [&](std::initializer_list<std::string_view> keys) -> std::optional<double> {
        if (!cameraJson)
            return std::nullopt;
        for (auto key : keys)
            if (auto value = jsonNumberField(*cameraJson, key))
                return value;
        return std::nullopt;
    };
    auto add = [&](const char* name, std::optional<double> value) {
        if (!value)
            return;
        char text[64];
        std::snprintf(text, sizeof text, " %s %.0f,", name, *value);
        line += text;
    };
    add("produced", first({"produced"}));
    add("analysed", first({"analysed", "analyzed", "processed"}));
    add("dropped", first({"dropped", "dropCount", "droppedGpuBusy"}));
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

StatisticsReporter::StatisticsReporter(const FrameCounter& frames, CameraJson cameraJson,
                                       FrameRateControl frameRateControl, ReadBackCount readBack)
    : frames_(frames), cameraJson_(std::move(cameraJson)), frameRateControl_(std::move(frameRateControl)),
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
    std::string line = formatStatistics(cameraJson_ ? cameraJson_() : std::nullopt, presented, rate,
                                        frameRateControl_ ? frameRateControl_() : std::string(), latency);
    if (readBack_)
        line += ", read back " + std::to_string(readBack_() - lastReadBack_) + " frames";
    foundation::logError(line);
    start();
}

} // namespace host
