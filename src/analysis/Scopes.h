#pragma once
// The exposure scopes: the histogram with its clip shares and the waveform, counted
// exactly from a bitmap's bytes on the CPU. Plain functions, shared by the frame
// callback, the benchmarks and the tests.
//
// Luma is the meter's own luminosity (pixelLuminosity), binned by its whole part, so a
// pixel the meter reads as 254.9 counts in bin 254.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/Luminosity.h"

constexpr size_t scopeLevels = 256;

struct ExposureHistogram {
    std::array<uint32_t, scopeLevels> luma{};
    // Filled only when asked for (the colour view); zero otherwise.
    std::array<uint32_t, scopeLevels> red{}, green{}, blue{};
    uint64_t pixels = 0;
    uint64_t clippedHigh = 0; // any of R, G, B at 255
    uint64_t clippedLow = 0;  // R, G and B all at 0
    double clippedHighShare() const { return pixels ? double(clippedHigh) / double(pixels) : 0.0; }
    double clippedLowShare() const { return pixels ? double(clippedLow) / double(pixels) : 0.0; }
};

// Adds every pixel of the bitmap to `histogram`; the colour histograms too when `colour`.
void accumulateHistogram(const uint8_t* bytes, const BitmapLayout& layout, bool colour,
                         ExposureHistogram& histogram);

// Luma per column group: `columns` groups across the picture (each column belongs to
// group column * columns / width), each with scopeLevels counts.
struct Waveform {
    size_t columns = 0;
    std::vector<uint32_t> counts; // group-major: counts[group * scopeLevels + level]
    uint32_t count(size_t group, size_t level) const { return counts[group * scopeLevels + level]; }
};

// The waveform of the bitmap in min(columns, width) groups.
Waveform measureWaveform(const uint8_t* bytes, const BitmapLayout& layout, size_t columns);

// One frame's scopes as the frame callback hands them to the main queue: the histogram
// always (its counts are what print-ui reports), the waveform while it is shown.
struct ScopeReadings {
    ExposureHistogram histogram;
    bool colour = false;
    std::optional<Waveform> waveform;
};

// How many column groups the waveform has across the picture (fewer for a narrower one).
constexpr size_t waveformColumns = 160;
