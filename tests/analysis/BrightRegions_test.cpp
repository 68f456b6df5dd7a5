// The luminosity scan and the bright-region search on bitmaps, and the outline's mapping
// into the line generator's space.
#include <gtest/gtest.h>

#include <random>

#include "analysis/Luminosity.h"
#include "camera/CameraViewController.h"
#include "foundation/Format.h"
#include "support/Bitmaps.h"
#include "support/PrintCapture.h"

namespace {
std::shared_ptr<CameraViewController> makeController() {
    return std::make_shared<CameraViewController>(NSCoder("test"));
}

std::optional<float> measure(CameraViewController& c, const TestBitmap& bitmap, double* handed = nullptr) {
    auto buffer = bitmap.sample()->imageBuffer;
    UIImage image(std::make_shared<const CIImage>(buffer), 1.0, UIImageOrientation::right);
    int calls = 0;
    auto result = c.measureLuminosity(image, [&](const CGImageRef&, double maximum) {
        ++calls;
        if (handed) *handed = maximum;
    });
    EXPECT_EQ(calls, 1);
    return result;
}
} // namespace

TEST(LuminosityMeter, ReadsTheLargestPixelOfTheFrame) {
    auto c = makeController();
    struct Case {
        uint8_t r, g, b;
        const char* label;
    };
    for (Case k : {Case{0, 0, 0, "0"}, Case{255, 255, 255, "255"}, Case{255, 0, 0, "54"}, Case{0, 255, 0, "182"},
                   Case{0, 0, 255, "18"}}) {
        TestBitmap bitmap;
        bitmap.set(321, 477, k.r, k.g, k.b); // in the last band
        double handed = -1;
        auto value = measure(*c, bitmap, &handed);
        ASSERT_TRUE(value);
        EXPECT_EQ(stringWithFormat("%.0f", double(*value)), k.label);
        EXPECT_EQ(handed, double(*value));
    }
    TestBitmap grey;
    grey.fill(128, 128, 128);
    auto value = measure(*c, grey);
    EXPECT_FLOAT_EQ(*value, 127.99999f);
    EXPECT_EQ(stringWithFormat("%.0f", double(*value)), "128");
}

TEST(LuminosityMeter, CountsRowsBelowTheLastFullBandAndOddLayouts) {
    auto c = makeController();
    // 483 rows: bands of 60 cover 480; the last three rows belong to the last band.
    TestBitmap tall(640, 483);
    tall.set(5, 482, 0, 255, 0);
    EXPECT_FLOAT_EQ(*measure(*c, tall), 182.427f);
    // Fewer rows than bands.
    TestBitmap tiny(3, 5);
    tiny.set(2, 4, 255, 0, 0);
    EXPECT_FLOAT_EQ(*measure(*c, tiny), 54.1875f);
}

TEST(BrightBoxes, ABlackFrameHasNone) {
    auto c = makeController();
    TestBitmap black;
    EXPECT_TRUE(c->findBrightBoxes(black.image(), 0.0).empty());
}

TEST(BrightBoxes, OnePixelGivesItsTwentyPixelSquareClippedAtTheEdges) {
    auto c = makeController();
    auto boxesFor = [&](size_t x, size_t y) {
        TestBitmap bitmap;
        bitmap.set(x, y, 255, 255, 255);
        return c->findBrightBoxes(bitmap.image(), 255.0);
    };
    EXPECT_EQ(boxesFor(100, 50), std::vector<CGRect>{CGRectMake(90, 40, 20, 20)});
    EXPECT_EQ(boxesFor(0, 0), std::vector<CGRect>{CGRectMake(0, 0, 10, 10)});
    EXPECT_EQ(boxesFor(639, 479), std::vector<CGRect>{CGRectMake(629, 469, 11, 11)});
}

TEST(BrightBoxes, APixelExactlyAtTheThresholdIsNotBright) {
    auto c = makeController();
    TestBitmap bitmap;
    bitmap.set(10, 10, 255, 0, 0); // luminosity 54.1875, exact in single precision
    EXPECT_TRUE(c->findBrightBoxes(bitmap.image(), 72.25).empty()); // threshold 54.1875
    EXPECT_EQ(c->findBrightBoxes(bitmap.image(), 72.2).size(), 1u);
}

TEST(BrightBoxes, NearbySpotsMergeAndDistantOnesStayApart) {
    auto c = makeController();
    TestBitmap near;
    near.set(100, 100, 255, 255, 255);
    near.set(115, 100, 255, 255, 255);
    EXPECT_EQ(c->findBrightBoxes(near.image(), 255.0), std::vector<CGRect>{CGRectMake(90, 90, 35, 20)});

    TestBitmap apart;
    apart.set(100, 100, 255, 255, 255);
    apart.set(130, 100, 255, 255, 255);
    auto boxes = c->findBrightBoxes(apart.image(), 255.0);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(c->outlineSegments(boxes).size(), 8u);

    TestBitmap touching; // squares exactly 20 apart share an edge only
    touching.set(100, 100, 255, 255, 255);
    touching.set(120, 100, 255, 255, 255);
    EXPECT_EQ(c->findBrightBoxes(touching.image(), 255.0).size(), 2u);
}

TEST(BrightBoxes, AWhiteFrameIsOneBoxOverTheWholePicture) {
    auto c = makeController();
    TestBitmap white;
    white.fill(255, 255, 255);
    EXPECT_EQ(c->findBrightBoxes(white.image(), 255.0), std::vector<CGRect>{CGRectMake(0, 0, 640, 480)});
}

TEST(BrightBoxes, UnreadableDataYieldsNothing) {
    auto c = makeController();
    // Rows claimed longer than the data, and pixels without three colour bytes.
    auto shortData = CGImageCreate(640, 480, 32, 2560, std::make_shared<const std::vector<uint8_t>>(1000, 255));
    EXPECT_TRUE(c->findBrightBoxes(shortData, 255.0).empty());
    auto twoBytes = CGImageCreate(10, 10, 16, 20, std::make_shared<const std::vector<uint8_t>>(200, 255));
    EXPECT_TRUE(c->findBrightBoxes(twoBytes, 255.0).empty());
    auto noProvider = std::make_shared<const CGImage>(640, 480, 32, 2560, nullptr);
    EXPECT_TRUE(c->findBrightBoxes(noProvider, 255.0).empty());
}

TEST(Outline, MapsBoxesOntoThePictureInTheGeneratorsSpace) {
    auto c = makeController();
    auto lines = c->outlineSegments({CGRectMake(90, 40, 20, 20)});
    ASSERT_EQ(lines.size(), 4u);
    Position p1(-0.71875f, -0.8333333f), p2(-0.65625f, -0.8333333f), p3(-0.71875f, -0.75f), p4(-0.65625f, -0.75f);
    auto near = [](const Position& a, const Position& b) {
        return std::abs(a.x - b.x) < 1e-6f && std::abs(a.y - b.y) < 1e-6f && !a.z && !b.z;
    };
    EXPECT_TRUE(near(lines[0].start, p1) && near(lines[0].end, p2));
    EXPECT_TRUE(near(lines[1].start, p2) && near(lines[1].end, p4));
    EXPECT_TRUE(near(lines[2].start, p4) && near(lines[2].end, p3));
    EXPECT_TRUE(near(lines[3].start, p3) && near(lines[3].end, p1));

    auto whole = c->outlineSegments({CGRectMake(0, 0, 640, 480)});
    EXPECT_FLOAT_EQ(whole[0].start.x, -1.0f);
    EXPECT_FLOAT_EQ(whole[0].start.y, -1.0f);
    EXPECT_FLOAT_EQ(whole[1].end.x, 1.0f);
    EXPECT_FLOAT_EQ(whole[1].end.y, 1.0f);
}

TEST(LuminosityScans, AgreeWithThePixelByPixelReadingOnRandomBitmaps) {
    std::mt19937 random(99);
    std::uniform_int_distribution<int> byte(0, 255), size(1, 37);
    for (int round = 0; round < 200; ++round) {
        size_t bpp = round % 3 == 0 ? 3 : 4;
        TestBitmap bitmap(size_t(size(random)), size_t(size(random)), bpp, size_t(round % 5));
        for (auto& b : bitmap.bytes) b = uint8_t(byte(random));
        // Half the bitmaps end right after the last pixel's blue byte: the grouped reads
        // must not take the missing alpha (the address sanitizer watches this).
        if (round % 2) bitmap.bytes.resize((bitmap.height - 1) * bitmap.bytesPerRow + (bitmap.width - 1) * bpp + 3);
        bitmap.bytes.shrink_to_fit();
        BitmapLayout layout{bitmap.width, bitmap.height, bpp, bitmap.bytesPerRow, bitmap.bytes.size()};
        float expectedMax = 0;
        std::vector<std::pair<size_t, size_t>> expectedBright, bright;
        const float threshold = 120.5f;
        for (size_t y = 0; y < bitmap.height; ++y)
            for (size_t x = 0; x < bitmap.width; ++x) {
                float l = pixelLuminosity(bitmap.bytes.data() + y * bitmap.bytesPerRow + x * bpp);
                expectedMax = std::max(expectedMax, l);
                if (l > threshold) expectedBright.emplace_back(x, y);
            }
        EXPECT_EQ(maxLuminosityOfRows(bitmap.bytes.data(), layout, 0, bitmap.height), expectedMax);
        forEachBrightPixel(bitmap.bytes.data(), layout, threshold, [&](size_t x, size_t y) { bright.emplace_back(x, y); });
        EXPECT_EQ(bright, expectedBright);
    }
}
