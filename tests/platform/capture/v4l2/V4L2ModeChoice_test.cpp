#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "capture/v4l2/V4L2ModeChoice.h"

namespace {
constexpr uint32_t MJPG = V4L2_PIX_FMT_MJPEG, YUYV = V4L2_PIX_FMT_YUYV;

V4L2Mode mode(uint32_t format, uint32_t w, uint32_t h, std::vector<uint32_t> fps = {30}) {
    V4L2Mode m{format, w, h, {}};
    for (uint32_t rate : fps)
        m.intervals.push_back({1, rate});
    return m;
}

TEST(ModeChoice, PicksTheDocumentedModeAndKeepsItsIntervalsFastestFirst) {
    struct Case {
        const char* what;
        std::vector<V4L2Mode> offered;
        std::string chosen; // "MJPG 640x480 1/30"
        PictureSize picture = defaultPictureSize;
    };
    const Case cases[] = {
        {"640 × 480 wins over larger modes listed first",
         {mode(MJPG, 1920, 1080), mode(MJPG, 1280, 720), mode(MJPG, 640, 480)},
         "MJPG 640x480 1/30"},
        {"a tie in rate goes to YUYV", {mode(MJPG, 640, 480), mode(YUYV, 640, 480)}, "YUYV 640x480 1/30"},
        {"a faster MJPEG beats a slower YUYV",
         {mode(YUYV, 640, 480, {15, 5}), mode(MJPG, 640, 480, {5, 30, 15})},
         "MJPG 640x480 1/30"},
        {"the smallest covering mode, not the first or the widest",
         {mode(MJPG, 1920, 1080), mode(MJPG, 800, 600), mode(MJPG, 720, 480, {10}), mode(MJPG, 1280, 720),
          mode(MJPG, 960, 400)},
         "MJPG 720x480 1/10"},
        {"nothing covers: the largest, scaled up",
         {mode(YUYV, 320, 240), mode(YUYV, 352, 288, {15})},
         "YUYV 352x288 1/15"},
        {"neither MJPEG nor YUYV: RGB24 through libv4l2",
         {mode(V4L2_PIX_FMT_H264, 1280, 720), mode(V4L2_PIX_FMT_GREY, 640, 480)},
         "RGB3 640x480"},
        {"no modes listed at all", {}, "RGB3 640x480"},
        {"the asked size when offered",
         {mode(MJPG, 640, 480), mode(MJPG, 1280, 720)},
         "MJPG 1280x720 1/30",
         {1280, 720}},
        {"else the smallest that covers it",
         {mode(MJPG, 1280, 720), mode(MJPG, 1920, 1200), mode(MJPG, 2560, 1440)},
         "MJPG 1920x1200 1/30",
         {1920, 1080}},
        {"RGB24 at the asked size", {}, "RGB3 1920x1080", {1920, 1080}},
    };
    for (const Case& c : cases) {
        const V4L2ModeChoice chosen = chooseV4L2Mode(c.offered, c.picture);
        std::string got = fourCharacterCode(chosen.format.pixelFormat) + " " +
                          std::to_string(chosen.format.width) + "x" + std::to_string(chosen.format.height);
        if (!chosen.intervals.empty())
            got += " 1/" + std::to_string(chosen.intervals.front().denominator);
        EXPECT_EQ(got, c.chosen) << c.what;
        EXPECT_TRUE(std::is_sorted(chosen.intervals.begin(), chosen.intervals.end(), [](auto& a, auto& b) {
            return a.seconds() < b.seconds();
        })) << c.what;
    }
}
} // namespace
