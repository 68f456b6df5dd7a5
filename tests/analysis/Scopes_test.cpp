#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "analysis/Luminosity.h"
#include "analysis/Scopes.h"
#include "foundation/Format.h"
#include "support/Bitmaps.h"

namespace {
// A picture with padded rows and a width that leaves a tail after every group of eight.
TestBitmap picture(size_t w, size_t h, size_t pixelBytes, std::mt19937& random,
                   const std::vector<uint8_t>& palette) {
    TestBitmap bitmap(w, h, pixelBytes, 12);
    for (auto& byte : bitmap.bytes)
        byte = palette[random() % palette.size()];
    return bitmap;
}

// The meter's luminosity rounded after each step, written out in double precision.
double twoRoundings(int r, int g, int b) {
    const float red = float(double(0.2125f) * r), green = float(double(0.7154f) * g);
    const float blue = float(double(0.0721f) * b);
    return double(float(double(float(double(red) + double(green))) + double(blue)));
}

// The luminosity label's text.
const auto readout = [](double value) { return stringWithFormat("%.0f", value); };
} // namespace

// Colours the processor would read differently if multiply-adds were fused: the readout
// must be the two-rounding one, on the one-pixel path and on the vector scan alike.
TEST(LuminosityRounding, ReadoutNeverComesFromFusedMultiplyAdds) {
    for (auto [r, g, b] : {std::array{19, 139, 139}, std::array{2, 42, 42}}) {
        const float fused = std::fmaf(0.0721f, float(b), std::fmaf(0.7154f, float(g), 0.2125f * float(r)));
        ASSERT_NE(readout(double(fused)), readout(twoRoundings(r, g, b))) << "not a telling colour";
        const uint8_t pixel[4] = {uint8_t(r), uint8_t(g), uint8_t(b), 255};
        EXPECT_EQ(double(pixelLuminosity(pixel)), twoRoundings(r, g, b));
        std::vector<uint8_t> frame(64 * 4 * 4);
        for (size_t i = 0; i < frame.size(); i += 4)
            std::copy(pixel, pixel + 4, &frame[i]);
        const float maximum = maxLuminosityOfRows(frame.data(), {64, 4, 4, 256, frame.size()}, 0, 4);
        EXPECT_EQ(readout(double(maximum)), readout(twoRoundings(r, g, b)));
    }
}

// Histograms and clip counts against a pixel-by-pixel count, on pictures mixing clipped,
// black and in-between values, with four- and three-byte pixels. The bins are the meter's
// whole part, not its rounding (mid-grey reads 127.99999, bin 127).
TEST(Scopes, HistogramAndClipsMatchAnIndependentCount) {
    std::mt19937 random(11);
    const std::vector<uint8_t> palette = {0, 0, 1, 54, 127, 128, 200, 254, 255, 255};
    for (size_t pixelBytes : {4u, 3u}) {
        const TestBitmap picture = ::picture(45, 13, pixelBytes, random, palette);
        ExposureHistogram expected;
        for (size_t y = 0; y < picture.height; ++y)
            for (size_t x = 0; x < picture.width; ++x) {
                const uint8_t* p = picture.pixel(x, y);
                ++expected.luma[size_t(std::floor(twoRoundings(p[0], p[1], p[2])))];
                ++expected.red[p[0]], ++expected.green[p[1]], ++expected.blue[p[2]];
                expected.clippedHigh += p[0] == 255 || p[1] == 255 || p[2] == 255;
                expected.clippedLow += p[0] == 0 && p[1] == 0 && p[2] == 0;
            }
        ExposureHistogram measured;
        accumulateHistogram(picture.bytes.data(), picture.layout(), true, measured);
        EXPECT_EQ(measured.luma, expected.luma) << pixelBytes << "-byte pixels";
        EXPECT_EQ(measured.red, expected.red);
        EXPECT_EQ(measured.green, expected.green);
        EXPECT_EQ(measured.blue, expected.blue);
        EXPECT_EQ(measured.clippedHigh, expected.clippedHigh);
        EXPECT_EQ(measured.clippedLow, expected.clippedLow);
        EXPECT_EQ(measured.pixels, picture.width * picture.height);

        ExposureHistogram lumaOnly;
        accumulateHistogram(picture.bytes.data(), picture.layout(), false, lumaOnly);
        EXPECT_EQ(lumaOnly.luma, expected.luma);
        EXPECT_EQ(lumaOnly.red, decltype(lumaOnly.red){}); // the colour view was not asked for
    }
}

TEST(Scopes, WaveformCountsEachColumnGroupExactly) {
    std::mt19937 random(5);
    const TestBitmap picture = ::picture(37, 9, 4, random, {0, 30, 99, 180, 255});
    const size_t columns = 10;
    Waveform waveform = measureWaveform(picture.bytes.data(), picture.layout(), columns);
    ASSERT_EQ(waveform.columns, columns);
    std::vector<uint32_t> expected(columns * scopeLevels);
    for (size_t y = 0; y < picture.height; ++y)
        for (size_t x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.pixel(x, y);
            ++expected[x * columns / picture.width * scopeLevels + size_t(twoRoundings(p[0], p[1], p[2]))];
        }
    EXPECT_EQ(waveform.counts, expected);
    // A picture narrower than the groups asked for gets one group per column.
    EXPECT_EQ(measureWaveform(picture.bytes.data(), picture.layout(), 100).columns, picture.width);
}
