// Each filter against a CPU computation of what it should produce.
#include "PipelineTestSupport.h"

#include <array>
#include <cmath>
#include <random>

using namespace pipelinetest;

namespace {
Image randomImage(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    return Image::make(width, height, [&](int, int) {
        return Pixel{uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random())};
    });
}

// The Sobel magnitude at a pixel, `v(dx, dy)` reading its neighbours.
template <typename Value> float sobel(Value v) {
    float gx = (v(1, -1) + 2 * v(1, 0) + v(1, 1)) - (v(-1, -1) + 2 * v(-1, 0) + v(-1, 1));
    float gy = (v(-1, 1) + 2 * v(0, 1) + v(1, 1)) - (v(-1, -1) + 2 * v(0, -1) + v(1, -1));
    return std::hypot(gx, gy);
}

// Sobel magnitude of the luminance with the border pixel repeated, as the shader reads.
float sobelReference(const Image& image, int x, int y) {
    return std::min(1.0f, sobel([&](int dx, int dy) {
                        return luminance(image.at(std::clamp(x + dx, 0, image.width - 1),
                                                  std::clamp(y + dy, 0, image.height - 1)));
                    }));
}

// What Canny thresholds: the Sobel magnitude of the luminance blurred with the shader's
// kernel (radius ceil(r), sigma r / 3, border repeated).
std::vector<float> cannyMagnitudes(const Image& image, float blurRadius) {
    const int w = image.width, h = image.height, radius = int(std::ceil(blurRadius));
    std::vector<float> weights(size_t(radius) + 1);
    float total = 0;
    for (int i = 0; i <= radius; ++i)
        total +=
            (i ? 2 : 1) * (weights[size_t(i)] = std::exp(-float(i * i) * 4.5f / (blurRadius * blurRadius)));
    auto blur = [&](const std::vector<float>& in, int dx, int dy) {
        std::vector<float> out(in.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int i = -radius; i <= radius; ++i) {
                    int sx = std::clamp(x + i * dx, 0, w - 1), sy = std::clamp(y + i * dy, 0, h - 1);
                    out[size_t(y * w + x)] += weights[size_t(std::abs(i))] / total * in[size_t(sy * w + sx)];
                }
        return out;
    };
    std::vector<float> l(size_t(w * h));
    for (int i = 0; i < w * h; ++i)
        l[size_t(i)] = luminance(image.at(i % w, i / w));
    std::vector<float> b = blur(blur(l, 1, 0), 0, 1), magnitude(l.size());
    for (int i = 0; i < w * h; ++i)
        magnitude[size_t(i)] = sobel([&, x = i % w, y = i / w](int dx, int dy) {
            return b[size_t(std::clamp(y + dy, 0, h - 1) * w + std::clamp(x + dx, 0, w - 1))];
        });
    return magnitude;
}

int edgePixels(const Image& image, int x0, int x1, int y0, int y1) {
    int count = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, image.width); ++x)
            count += image.at(x, y)[0] > 127;
    return count;
}
} // namespace

using OperationsTest = GLTest;

// The per-pixel operations against their formulas, every channel within `tolerance` levels.
TEST_F(OperationsTest, PerPixelOperationsFollowTheirFormulas) {
    using Levels = std::array<float, 4>;
    auto falseColor = std::make_shared<FalseColor>();
    falseColor->firstColor = Color{0.0f, 0.0f, 0.5f, 1.0f};
    falseColor->secondColor = Color{1.0f, 0.0f, 0.0f, 1.0f};
    struct Case {
        std::shared_ptr<BasicOperation> operation;
        std::function<Levels(Pixel)> expected;
        float tolerance;
    };
    // clang-format off
    const Case cases[] = {
        {std::make_shared<ColorInversion>(),
         [](Pixel p) { return Levels{255.f - p[0], 255.f - p[1], 255.f - p[2], float(p[3])}; }, 0},
        {std::make_shared<Luminance>(),
         [](Pixel p) { return Levels{luminance(p) * 255, luminance(p) * 255, luminance(p) * 255, 255}; }, 1},
        {falseColor, // dark blue to red
         [](Pixel p) { return Levels{luminance(p) * 255, 0, (1 - luminance(p)) * 127.5f, float(p[3])}; }, 1},
    };
    // clang-format on
    const Image input = randomImage(37, 23, 1);
    for (const auto& c : cases) {
        Image output = renderThrough(c.operation, input);
        ASSERT_EQ(output.width, 37);
        for (int y = 0; y < input.height; ++y)
            for (int x = 0; x < input.width; ++x)
                for (int channel = 0; channel < 4; ++channel)
                    ASSERT_NEAR(output.at(x, y)[channel], c.expected(input.at(x, y))[channel], c.tolerance)
                        << "channel " << channel << " at " << x << "," << y;
    }
}

TEST_F(OperationsTest, SobelMatchesReferenceIsZeroWhenFlatAndPeaksAcrossAStep) {
    // Left: flat dark; right: flat bright; bottom rows: a noisy band for the general case.
    std::mt19937 random(3);
    Image input = Image::make(48, 32, [&](int x, int y) -> Pixel {
        if (y >= 24)
            return {uint8_t(random()), uint8_t(random()), uint8_t(random()), 255};
        uint8_t v = x < 20 ? 40 : 90;
        return {v, v, v, 255};
    });
    Image output = renderThrough(std::make_shared<SobelEdgeDetection>(), input);
    for (int y = 0; y < input.height; ++y)
        for (int x = 0; x < input.width; ++x)
            ASSERT_NEAR(output.at(x, y)[0], sobelReference(input, x, y) * 255.0f, 1.5)
                << "at " << x << "," << y;
    // Flat areas read 0 and a step of 50 levels 4 * 50 / 255 = 0.78 on both sides of it.
    EXPECT_EQ(output.at(5, 5)[0], 0);
    EXPECT_NEAR(output.at(19, 5)[0], 200, 2);
    EXPECT_NEAR(output.at(20, 5)[0], 200, 2);
}

TEST_F(OperationsTest, CannyTracesARectangleOnePixelWideAndNothingElse) {
    // The block (columns left ... right - 1) well inside a picture whose width is a whole
    // number of the shader's four-pixel groups, and against both sides of one whose is not.
    for (auto block : {std::array{120, 30, 90}, std::array{122, 1, 121}}) {
        const int width = block[0], left = block[1], right = block[2], top = 20, bottom = 70;
        SCOPED_TRACE("width " + std::to_string(width));
        std::mt19937 random(4);
        std::uniform_int_distribution<int> noise(-10, 10);
        Image input = Image::make(width, 90, [&](int x, int y) -> Pixel {
            int v = (x >= left && x < right && y >= top && y < bottom) ? 200 : 40;
            v += noise(random); // weak noise everywhere: must never make an edge on its own
            return {uint8_t(v), uint8_t(v), uint8_t(v), 255};
        });
        auto canny = std::make_shared<CannyEdgeDetection>();
        Image output = renderThrough(canny, input);

        // The noise alone reaches the lower threshold in places, never the upper one.
        std::vector<float> magnitude = cannyMagnitudes(input, canny->blurRadiusInPixels);
        float noiseMaximum = 0;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < input.width; ++x)
                noiseMaximum = std::max(noiseMaximum, magnitude[size_t(y * input.width + x)]);
        ASSERT_GT(noiseMaximum, canny->lowerThreshold);
        ASSERT_LT(noiseMaximum, canny->upperThreshold);

        // Across each side, away from the corners, exactly one edge pixel within 4 of the
        // border, and it within 1.
        for (int reach : {1, 4}) {
            for (int y = top + 3; y < bottom - 3; ++y)
                for (int border : {left, right})
                    EXPECT_EQ(edgePixels(output, border - reach, border + reach, y, y + 1), 1)
                        << "side at x " << border << ", row " << y << ", within " << reach;
            for (int x = left + 3; x < right - 3; ++x)
                for (int border : {top, bottom})
                    EXPECT_EQ(edgePixels(output, x, x + 1, border - reach, border + reach), 1)
                        << "side at y " << border << ", column " << x << ", within " << reach;
        }
        // Nothing inside, nothing outside, beyond two pixels of the border.
        for (int y = 0; y < input.height; ++y)
            for (int x = 0; x < input.width; ++x) {
                bool nearBorder = x >= left - 2 && x < right + 2 && y >= top - 2 && y < bottom + 2 &&
                                  !(x >= left + 2 && x < right - 2 && y >= top + 2 && y < bottom - 2);
                ASSERT_TRUE(nearBorder || output.at(x, y)[0] == 0) << "at " << x << "," << y;
            }
    }
}

TEST_F(OperationsTest, CannyKeepsWeakEdgesOnlyBesideStrongOnes) {
    // A vertical step, weak (14 ... 29 levels) in rows 0 ... 15, strong (36 ... 67) below.
    const int width = 40, height = 48, step = 20;
    auto contrast = [](int y) { return y < 16 ? 14 + y : 36 + (y - 16); };
    Image input = Image::make(width, height, [&](int x, int y) -> Pixel {
        uint8_t v = uint8_t(x < step ? 40 : 40 + contrast(y));
        return {v, v, v, 255};
    });
    auto canny = std::make_shared<CannyEdgeDetection>();
    Image output = renderThrough(canny, input);

    std::vector<float> magnitude = cannyMagnitudes(input, canny->blurRadiusInPixels);
    auto strong = [&](int y) {
        return magnitude[size_t(y * width + step - 1)] >= canny->upperThreshold + 0.01f;
    };
    auto weak = [&](int y) {
        float m = magnitude[size_t(y * width + step - 1)];
        return m >= canny->lowerThreshold + 0.01f && m < canny->upperThreshold - 0.01f;
    };
    for (int y = 0; y < height; ++y) {
        ASSERT_TRUE(strong(y) || weak(y)) << "row " << y << " too close to a threshold for this test";
        int edges = edgePixels(output, 0, width, y, y + 1);
        ASSERT_EQ(edgePixels(output, step - 1, step + 1, y, y + 1), edges) << "row " << y;
        bool besideStrong = (y > 0 && strong(y - 1)) || (y + 1 < height && strong(y + 1));
        EXPECT_EQ(edges, strong(y) || besideStrong ? 1 : 0) << "row " << y;
    }
    EXPECT_TRUE(weak(15) && strong(16));
}
