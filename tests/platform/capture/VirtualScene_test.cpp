// The simulated sensor and the virtual scene, without threads: what a frame looks like
// for given settings, and how an exposure is spread over shutter and gain. (Brightness
// following the exposure is VirtualCaptureDeviceExposure's to show; noise and zoom are
// left to the eye.)
#include <gtest/gtest.h>

#include <cmath>

#include "capture/SensorModel.h"
#include "capture/VirtualScene.h"

namespace {

SensorSettings settings(double seconds, float iso, float lens = 0.5f, double at = 1.0) {
    SensorSettings s;
    s.exposureSeconds = seconds;
    s.iso = iso;
    s.lensPosition = lens;
    s.zoomFactor = 1.0;
    s.seconds = at;
    s.sequence = 1;
    return s;
}

double luma(const CVPixelBufferRef& b, int x, int y) {
    const uint8_t* p = &(*b->storage())[size_t(y) * b->bytesPerRow() + size_t(x) * 4];
    return 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
}

// Sum of squared horizontal and vertical luma steps: high when edges are crisp.
double edgeEnergy(const CVPixelBufferRef& b, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            double dx = luma(b, x + 1, y) - luma(b, x, y), dy = luma(b, x, y + 1) - luma(b, x, y);
            sum += dx * dx + dy * dy;
        }
    return sum;
}

// Where the clipped (near-white) pixels are, on average.
std::pair<double, double> brightCentroid(const CVPixelBufferRef& b, int* count) {
    double sx = 0, sy = 0;
    *count = 0;
    for (int y = 0; y < b->height(); ++y)
        for (int x = 0; x < b->width(); ++x)
            if (luma(b, x, y) >= 250) {
                sx += x;
                sy += y;
                ++*count;
            }
    return {*count ? sx / *count : 0, *count ? sy / *count : 0};
}

} // namespace

TEST(VirtualSceneSensor, LensPositionAgainstDepthDecidesBlur) {
    VirtualScene scene;
    auto at = [&](float lens) { return scene.render(settings(1.0 / 30, 200, lens)); };
    auto middle = at(VirtualScene::middleSharpAt), far = at(VirtualScene::farSharpAt), near = at(0.0f);
    // The barcode label on the box in the middle distance.
    EXPECT_GT(edgeEnergy(middle, 292, 222, 348, 246), 2 * edgeEnergy(far, 292, 222, 348, 246));
    EXPECT_GT(edgeEnergy(middle, 292, 222, 348, 246), 2 * edgeEnergy(near, 292, 222, 348, 246));
    // The bricks at the top left, on the far wall.
    EXPECT_GT(edgeEnergy(far, 10, 150, 120, 240), 2 * edgeEnergy(near, 10, 150, 120, 240));
    // Contrast focus aims at what fills the middle of the view.
    EXPECT_FLOAT_EQ(scene.sharpLensPosition(settings(1.0 / 30, 200)), VirtualScene::middleSharpAt);
}

TEST(VirtualSceneSensor, LampsAreBrightAndMove) {
    VirtualScene scene;
    int before = 0, after = 0;
    auto [x0, y0] = brightCentroid(scene.render(settings(1.0 / 30, 100, 0.5f, 0.0)), &before);
    auto [x1, y1] = brightCentroid(scene.render(settings(1.0 / 30, 100, 0.5f, 2.0)), &after);
    EXPECT_GT(before, 40);
    EXPECT_LT(before, 2000); // small spots, not a blown-out frame
    EXPECT_GT(after, 40);
    EXPECT_GT(std::hypot(x1 - x0, y1 - y0), 10.0);
}

TEST(SensorModel, ExposureProgramKeepsTheProductInsideTheRanges) {
    const AVCaptureDeviceFormat format;
    for (double exposure : {1e-6, 0.0025, 0.5, 3.3333, 53.0, 800.0, 1e6}) { // seconds × ISO
        auto chosen = sensor::programExposure(exposure, format);
        double seconds = CMTimeGetSeconds(chosen.duration);
        EXPECT_TRUE(seconds >= 1.0 / 10000 - 1e-9 && seconds <= 0.5 && chosen.iso >= 25 &&
                    chosen.iso <= 1600);
        EXPECT_NEAR(seconds * chosen.iso / std::clamp(exposure, 0.0025, 800.0), 1.0, 0.02) << exposure;
    }
    auto dim = sensor::programExposure(10.0, format); // the shutter opens to 1/30 s before gain rises
    EXPECT_NEAR(CMTimeGetSeconds(dim.duration), 1.0 / 30, 1e-5);
    EXPECT_NEAR(dim.iso, 300, 1);
}
