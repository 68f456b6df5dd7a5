// Zebra and peaking against what they promise: which pixels they touch and which not.
#include "PipelineTestSupport.h"

#include <cmath>

#include "pipeline/AssistOperations.h"

using namespace pipelinetest;

namespace {
// A vertical edge at column 32 from `dark` to `bright`, softened by a Gaussian of `sigma`
// pixels (0: a sharp step).
Image edge(int dark, int bright, double sigma) {
    return Image::make(64, 24, [&](int x, int) -> Pixel {
        const double t =
            sigma > 0 ? 0.5 * std::erfc(-(x - 31.5) / (sigma * std::sqrt(2.0))) : (x >= 32 ? 1 : 0);
        const auto v = uint8_t(std::lround(dark + (bright - dark) * t));
        return {v, v, v, 255};
    });
}

int markedPixels(const Image& input, const Image& output) {
    int marked = 0;
    for (int y = 0; y < input.height; ++y)
        for (int x = 0; x < input.width; ++x)
            marked += output.at(x, y) != input.at(x, y);
    return marked;
}
} // namespace

using AssistOperationsTest = GLTest;

// Stripes only where the luminosity is at or above the level; everything else untouched.
TEST_F(AssistOperationsTest, ZebraStripesOnlyAtAndAboveTheLevel) {
    // Rows of grey from 200 to 255 across the level 242.25 (95 %), and a bright red.
    Image input = Image::make(40, 40, [](int x, int y) -> Pixel {
        if (y >= 36)
            return {255, 0, 0, 255};
        const auto v = uint8_t(200 + (x + y * 40) % 56);
        return {v, v, v, 255};
    });
    Image output = renderThrough(std::make_shared<ZebraStripes>(), input);
    int striped = 0, above = 0;
    for (int y = 0; y < input.height; ++y)
        for (int x = 0; x < input.width; ++x) {
            const Pixel in = input.at(x, y), out = output.at(x, y);
            const bool bright = in[0] >= 243 && in[1] == in[0]; // grey 243 reads 243.0
            above += bright;
            if (!bright) {
                ASSERT_EQ(out, in) << "touched below the level at " << x << "," << y;
            } else if (out != in) {
                ASSERT_EQ(out, (Pixel{0, 0, 0, 255}));
                ++striped;
            }
        }
    // Half of each diagonal period is dark.
    EXPECT_NEAR(double(striped) / above, 0.5, 0.1);
}

TEST_F(AssistOperationsTest, PeakingMarksASharpEdgeAndNotASoftOne) {
    auto peaking = std::make_shared<FocusPeaking>();
    const Image sharp = edge(40, 200, 0);
    const Image output = renderThrough(peaking, sharp);
    const Pixel mark{255, 0, 255, 255};
    for (int y = 0; y < sharp.height; ++y) {
        EXPECT_EQ(output.at(31, y), mark);
        EXPECT_EQ(output.at(32, y), mark);
        EXPECT_EQ(output.at(10, y), sharp.at(10, y)); // flat: untouched
    }
    for (double sigma : {4.0, 6.0})
        EXPECT_EQ(markedPixels(edge(40, 200, sigma), renderThrough(peaking, edge(40, 200, sigma))), 0)
            << "a Gaussian blur of " << sigma << " px";
    // A sharp step too faint to be an edge is no edge either.
    EXPECT_EQ(markedPixels(edge(100, 110, 0), renderThrough(peaking, edge(100, 110, 0))), 0);
}
