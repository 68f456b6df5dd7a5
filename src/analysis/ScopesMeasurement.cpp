// The exposure scopes of each frame: counted on the capture thread from the camera's own
// picture (whatever the filter), shown in their panels on the main queue.
#include <charconv>
#include <cmath>

#include "analysis/Scopes.h"
#include "camera/CameraViewController.h"
#include "foundation/Format.h"

namespace {
constexpr size_t waveformRows = 64; // four luma levels to a row of the panel

std::string shortestNumber(double value) {
    char buffer[32];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc{} ? std::string(buffer, end) : "null";
}

std::string scopesJson(const ExposureHistogram& histogram) {
    std::string json = "{\"histogram\": [";
    for (size_t level = 0; level < scopeLevels; ++level) {
        if (level)
            json += ", ";
        json += std::to_string(histogram.luma[level]);
    }
    return json + "], \"clippedHigh\": " + shortestNumber(histogram.clippedHighShare()) +
           ", \"clippedLow\": " + shortestNumber(histogram.clippedLowShare()) + "}";
}

UIPlotView::Bars barsOf(const std::array<uint32_t, scopeLevels>& counts, UIColor color) {
    uint32_t tallest = 1;
    for (uint32_t count : counts)
        tallest = std::max(tallest, count);
    UIPlotView::Bars bars{std::vector<float>(scopeLevels), color};
    for (size_t level = 0; level < scopeLevels; ++level)
        bars.heights[level] = float(counts[level]) / float(tallest);
    return bars;
}

// Brighter where more pixels fall; the square root keeps thin traces visible beside a
// large flat area.
UIPlotView::Density densityOf(const Waveform& waveform) {
    UIPlotView::Density density;
    density.columns = waveform.columns;
    density.rows = waveformRows;
    density.cells.assign(density.columns * density.rows, 0.0f);
    density.color = UIColor{0.55, 1.0, 0.55, 1.0};
    const size_t levelsPerRow = scopeLevels / waveformRows;
    uint32_t fullest = 1;
    std::vector<uint32_t> sums(density.cells.size());
    for (size_t column = 0; column < waveform.columns; ++column)
        for (size_t level = 0; level < scopeLevels; ++level) {
            uint32_t& sum = sums[(level / levelsPerRow) * density.columns + column];
            sum += waveform.count(column, level);
            fullest = std::max(fullest, sum);
        }
    for (size_t cell = 0; cell < sums.size(); ++cell)
        density.cells[cell] = std::sqrt(float(sums[cell]) / float(fullest));
    return density;
}

std::string percentText(const char* name, double share) {
    return stringWithFormat("%s %.2f %%", name, share * 100.0);
}
} // namespace

// Capture thread. Skips a frame while the previous one's scopes still wait for the main
// queue, so a busy main thread never collects a backlog.
void CameraViewController::measureScopes(const CMSampleBufferRef& sampleBuffer) {
    const bool waveform = waveformShown_.load();
    if (!histogramShown_.load() && !waveform)
        return;
    CVImageBufferRef pixelBuffer = CMSampleBufferGetImageBuffer(sampleBuffer);
    if (!pixelBuffer || scopesPending_.exchange(true))
        return;
    auto readings = std::make_shared<ScopeReadings>();
    readings->colour = histogramInColour_.load();
    CVPixelBufferLockBaseAddress(pixelBuffer, kCVPixelBufferLock_ReadOnly);
    const uint8_t* bytes = pixelBuffer->baseAddress();
    const size_t length = pixelBuffer->storage() ? pixelBuffer->storage()->size() : 0;
    BitmapLayout layout{size_t(pixelBuffer->width()), size_t(pixelBuffer->height()), 4,
                        pixelBuffer->bytesPerRow(), length};
    if (bytes && layout.fits(length)) {
        accumulateHistogram(bytes, layout, readings->colour, readings->histogram);
        if (waveform)
            readings->waveform = measureWaveform(bytes, layout, waveformColumns);
    }
    CVPixelBufferUnlockBaseAddress(pixelBuffer, kCVPixelBufferLock_ReadOnly);
    DispatchQueue::main().async([self = strongSelf(), readings] {
        self->scopesPending_.store(false);
        self->showScopes(*readings);
    });
}

// Main queue.
void CameraViewController::showScopes(const ScopeReadings& readings) {
    const ExposureHistogram& histogram = readings.histogram;
    latestScopesJson_ = scopesJson(histogram);
    if (histogramView) {
        if (readings.colour)
            histogramView->setBars({barsOf(histogram.red, UIColor{1, 0.25, 0.25, 0.8}),
                                    barsOf(histogram.green, UIColor{0.25, 1, 0.25, 0.8}),
                                    barsOf(histogram.blue, UIColor{0.35, 0.5, 1, 0.8})});
        else
            histogramView->setBars({barsOf(histogram.luma, UIColor{0.95, 0.95, 0.95, 0.9})});
        histogramView->setCaption({percentText("High", histogram.clippedHighShare()),
                                   percentText("Low", histogram.clippedLowShare())});
    }
    if (waveformView && readings.waveform) {
        waveformView->setDensity(densityOf(*readings.waveform));
        waveformView->setGraticule({0.0f, 0.5f, 1.0f});
    }
}
