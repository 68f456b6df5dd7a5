// The luminosity scan and the bright-region search on bitmaps, and the outline's mapping
// into the line generator's space.
#include <gtest/gtest.h>

#include <random>

#include "analysis/Luminosity.h"
#include "camera/CameraViewController.h"
#include "foundation/Format.h"
#include "support/Bitmaps.h"

namespace {
std::optional<float> measure(const TestBitmap& bitmap, double* handed = nullptr) {
    CameraViewController c{NSCoder("test")};
    UIImage image(std::make_shared<const CIImage>(bitmap.sample()->imageBuffer), 1.0,
                  UIImageOrientation::right);
    int calls = 0;
    auto result = c.measureLuminosity(image, [&](const CGImageRef&, double maximum) {
        ++calls;
        if (handed)
            *handed = maximum;
    });
    EXPECT_EQ(calls, 1);
    return result;
}

// The bright boxes of a 640 × 480 black frame with white pixels at `spots`.
std::vector<CGRect> boxesFor(std::vector<std::pair<size_t, size_t>> spots, double threshold = 255.0) {
    TestBitmap bitmap;
    for (auto [x, y] : spots)
        bitmap.set(x, y, 255, 255, 255);
    return CameraViewController(NSCoder("test")).findBrightBoxes(bitmap.image(), threshold);
}
} // namespace

TEST(LuminosityMeter, ReadsTheLargestPixelOfTheFrameInAnyLayout) {
    struct Case {
        uint8_t r, g, b;
        const char* label;
    };
    for (Case k : {Case{0, 0, 0, "0"}, Case{255, 255, 255, "255"}, Case{255, 0, 0, "54"},
                   Case{0, 255, 0, "182"}, Case{0, 0, 255, "18"}}) {
        TestBitmap bitmap;
        bitmap.set(321, 477, k.r, k.g, k.b); // in the last band
        double handed = -1;
        auto value = measure(bitmap, &handed);
        ASSERT_TRUE(value);
        EXPECT_EQ(stringWithFormat("%.0f", double(*value)), k.label);
        EXPECT_EQ(handed, double(*value));
    }
    // Grey: rounds to 128; 483 rows: bands of 60 cover 480, the last three rows belong to
    // the last band; 3 × 5: fewer rows than bands.
    TestBitmap grey, tall(640, 483), tiny(3, 5);
    grey.fill(128, 128, 128);
    tall.set(5, 482, 0, 255, 0);
    tiny.set(2, 4, 255, 0, 0);
    for (auto [bitmap, expected] : {std::pair{&grey, 127.99999f}, {&tall, 182.427f}, {&tiny, 54.1875f}})
        EXPECT_FLOAT_EQ(*measure(*bitmap), expected);
    EXPECT_EQ(stringWithFormat("%.0f", double(*measure(grey))), "128");
}

TEST(BrightBoxes, EachBrightPixelAboveTheThresholdGivesItsSquareMergedWhereTheyOverlap) {
    using Spots = std::vector<std::pair<size_t, size_t>>;
    const std::pair<Spots, std::vector<CGRect>> cases[] = {
        {{}, {}},
        {{{100, 50}}, {CGRectMake(90, 40, 20, 20)}},
        {{{0, 0}}, {CGRectMake(0, 0, 10, 10)}}, // clipped at the edges
        {{{639, 479}}, {CGRectMake(629, 469, 11, 11)}},
        {{{100, 100}, {115, 100}}, {CGRectMake(90, 90, 35, 20)}},
        {{{100, 100}, {130, 100}}, {CGRectMake(90, 90, 20, 20), CGRectMake(120, 90, 20, 20)}},
        {{{100, 100}, {120, 100}},
         {CGRectMake(90, 90, 20, 20), CGRectMake(110, 90, 20, 20)}}, // an edge shared only
    };
    for (const auto& [spots, boxes] : cases)
        EXPECT_EQ(boxesFor(spots), boxes) << spots.size() << " spots, " << boxes.size() << " boxes expected";
    TestBitmap white;
    white.fill(255, 255, 255);
    CameraViewController c{NSCoder("test")};
    EXPECT_EQ(c.findBrightBoxes(white.image(), 255.0), std::vector<CGRect>{CGRectMake(0, 0, 640, 480)});

    // A pixel exactly at the threshold is not bright, and unreadable data yields nothing.
    TestBitmap bitmap;
    bitmap.set(10, 10, 255, 0, 0); // luminosity 54.1875, exact in single precision
    EXPECT_TRUE(c.findBrightBoxes(bitmap.image(), 72.25).empty()); // threshold 54.1875
    EXPECT_EQ(c.findBrightBoxes(bitmap.image(), 72.2).size(), 1u);
    // Rows claimed longer than the data, pixels without three colour bytes, no data at all.
    auto bytes = [](size_t n) { return std::make_shared<const std::vector<uint8_t>>(n, 255); };
    EXPECT_TRUE(c.findBrightBoxes(CGImageCreate(640, 480, 32, 2560, bytes(1000)), 255.0).empty());
    EXPECT_TRUE(c.findBrightBoxes(CGImageCreate(10, 10, 16, 20, bytes(200)), 255.0).empty());
    EXPECT_TRUE(
        c.findBrightBoxes(std::make_shared<const CGImage>(640, 480, 32, 2560, nullptr), 255.0).empty());
}

TEST(LuminosityScans, AgreeWithThePixelByPixelReadingOnRandomBitmaps) {
    std::mt19937 random(99);
    std::uniform_int_distribution<int> byte(0, 255), size(1, 37);
    for (int round = 0; round < 200; ++round) {
        size_t bpp = round % 3 == 0 ? 3 : 4;
        TestBitmap bitmap(size_t(size(random)), size_t(size(random)), bpp, size_t(round % 5));
        for (auto& b : bitmap.bytes)
            b = uint8_t(byte(random));
        // Half the bitmaps end right after the last pixel's blue byte: the grouped reads
        // must not take the missing alpha (the address sanitizer watches this).
        if (round % 2)
            bitmap.bytes.resize((bitmap.height - 1) * bitmap.bytesPerRow + (bitmap.width - 1) * bpp + 3);
        bitmap.bytes.shrink_to_fit();
        const BitmapLayout layout = bitmap.layout();
        float expectedMax = 0;
        std::vector<std::pair<size_t, size_t>> expectedBright, bright;
        const float threshold = 120.0f; // three quarters of 160, as findBrightBoxes takes it
        for (size_t y = 0; y < bitmap.height; ++y)
            for (size_t x = 0; x < bitmap.width; ++x) {
                float l = pixelLuminosity(bitmap.bytes.data() + y * bitmap.bytesPerRow + x * bpp);
                expectedMax = std::max(expectedMax, l);
                if (l > threshold)
                    expectedBright.emplace_back(x, y);
            }
        EXPECT_EQ(maxLuminosityOfRows(bitmap.bytes.data(), layout, 0, bitmap.height), expectedMax);
        std::vector<BrightRun> runs;
        findBrightRuns(bitmap.bytes.data(), layout, threshold, runs);
        for (const auto& [y, first, last] : runs)
            for (size_t x = first; x <= last; ++x)
                bright.emplace_back(x, y);
        EXPECT_EQ(bright, expectedBright);
        // The boxes: each bright pixel's square merged, one after the other, as the plain
        // procedure does it.
        std::vector<CGRect> expectedBoxes;
        const CGRect bounds = CGRectMake(0, 0, double(bitmap.width), double(bitmap.height));
        for (auto [x, y] : expectedBright)
            expectedBoxes = CameraViewController::mergeBox(
                CGRectIntersection(CGRectMake(double(x) - 10, double(y) - 10, 20, 20), bounds),
                expectedBoxes);
        EXPECT_EQ(CameraViewController(NSCoder("test")).findBrightBoxes(bitmap.image(), 160.0),
                  expectedBoxes);
    }
}
