#include "analysis/Scopes.h"

#include <algorithm>

namespace {
using luminosity_detail::Float8;
using luminosity_detail::Int8;

inline size_t lumaBin(float luminosity) {
    return size_t(luminosity); // 0.0 ... 255.0: the whole part is the bin
}

inline bool clipsHigh(const uint8_t* pixel) {
    return pixel[0] == 255 || pixel[1] == 255 || pixel[2] == 255;
}

inline bool clipsLow(const uint8_t* pixel) {
    return (pixel[0] | pixel[1] | pixel[2]) == 0;
}

// Consecutive pixels of a picture mostly fall into the same bin; counting them into four
// tables in turn keeps each increment from waiting on the previous one's store.
struct SplitCounts {
    std::array<std::array<uint32_t, scopeLevels>, 4> tables{};
    void addTo(std::array<uint32_t, scopeLevels>& total) const {
        for (size_t level = 0; level < scopeLevels; ++level)
            total[level] += tables[0][level] + tables[1][level] + tables[2][level] + tables[3][level];
    }
};

} // namespace

// The luma bins of a row's first `grouped` pixels, and its clip counts, eight pixels at a
// time (see maxLuminosityOfRows for the lanes and why they stay exact).
namespace {
FERNHOLD_WIDEST_VECTORS
void binRow(const uint8_t* rowBytes, size_t grouped, uint32_t* bins, uint64_t& high, uint64_t& low) {
    typedef uint8_t Bytes32 __attribute__((vector_size(32)));
    Int8 highLanes{}, lowLanes{};
    for (size_t column = 0; column < grouped; column += 8) {
        Float8 luminosity;
        luminosity_detail::luminosity8(rowBytes + column * 4, luminosity);
        Int8 words;
        std::memcpy(&words, rowBytes + column * 4, sizeof words);
        // Whole 32-bit bins: narrowing them in the register would cost more than the
        // wider store.
        Int8 bin = __builtin_convertvector(luminosity, Int8);
        std::memcpy(bins + column, &bin, sizeof bin);
        // A byte compare finds every 255 at once; alpha's is masked off.
        Bytes32 saturated = Bytes32(words) == 0xff;
        highLanes -= (Int8(saturated) & 0xffffff) != 0;
        lowLanes -= (words & 0xffffff) == 0;
    }
    for (size_t lane = 0; lane < 8; ++lane) {
        high += uint32_t(highLanes[lane]);
        low += uint32_t(lowLanes[lane]);
    }
}

// The luma bin of every pixel of row `row`, and its clip counts.
void binWholeRow(const uint8_t* bytes, const BitmapLayout& layout, size_t row, uint32_t* bins, uint64_t& high,
                 uint64_t& low) {
    const uint8_t* rowBytes = bytes + row * layout.bytesPerRow;
    const size_t grouped = layout.vectorColumns(row);
    binRow(rowBytes, grouped, bins, high, low);
    for (size_t column = grouped; column < layout.width; ++column) {
        const uint8_t* pixel = rowBytes + column * layout.bytesPerPixel;
        bins[column] = uint32_t(lumaBin(pixelLuminosity(pixel)));
        high += clipsHigh(pixel);
        low += clipsLow(pixel);
    }
}
} // namespace

void accumulateHistogram(const uint8_t* bytes, const BitmapLayout& layout, bool colour,
                         ExposureHistogram& histogram) {
    SplitCounts luma, red, green, blue;
    uint64_t high = 0, low = 0;
    std::vector<uint32_t> bins(layout.width);
    for (size_t row = 0; row < layout.height; ++row) {
        const uint8_t* rowBytes = bytes + row * layout.bytesPerRow;
        binWholeRow(bytes, layout, row, bins.data(), high, low);
        size_t column = 0;
        for (; column + 4 <= layout.width; column += 4) {
            ++luma.tables[0][bins[column]];
            ++luma.tables[1][bins[column + 1]];
            ++luma.tables[2][bins[column + 2]];
            ++luma.tables[3][bins[column + 3]];
        }
        for (; column < layout.width; ++column)
            ++luma.tables[0][bins[column]];
        if (colour)
            for (size_t x = 0; x < layout.width; ++x) {
                const uint8_t* pixel = rowBytes + x * layout.bytesPerPixel;
                ++red.tables[x & 3][pixel[0]];
                ++green.tables[x & 3][pixel[1]];
                ++blue.tables[x & 3][pixel[2]];
            }
    }
    luma.addTo(histogram.luma);
    if (colour) {
        red.addTo(histogram.red);
        green.addTo(histogram.green);
        blue.addTo(histogram.blue);
    }
    histogram.pixels += uint64_t(layout.width) * layout.height;
    histogram.clippedHigh += high;
    histogram.clippedLow += low;
}

Waveform measureWaveform(const uint8_t* bytes, const BitmapLayout& layout, size_t columns) {
    Waveform waveform;
    waveform.columns = std::min(columns, layout.width);
    waveform.counts.assign(waveform.columns * scopeLevels, 0);
    if (waveform.columns == 0)
        return waveform;
    // Where each column's counts start.
    std::vector<uint32_t> start(layout.width);
    for (size_t x = 0; x < layout.width; ++x)
        start[x] = uint32_t(x * waveform.columns / layout.width * scopeLevels);
    uint32_t* counts = waveform.counts.data();
    std::vector<uint32_t> bins(layout.width);
    uint64_t unusedHigh = 0, unusedLow = 0;
    for (size_t row = 0; row < layout.height; ++row) {
        binWholeRow(bytes, layout, row, bins.data(), unusedHigh, unusedLow);
        for (size_t column = 0; column < layout.width; ++column)
            ++counts[start[column] + bins[column]];
    }
    return waveform;
}
