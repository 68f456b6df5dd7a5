#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "capture/V4L2ModeChoice.h"

namespace {
constexpr uint32_t MJPG = V4L2_PIX_FMT_MJPEG, YUYV = V4L2_PIX_FMT_YUYV;

V4L2Mode mode(uint32_t format, uint32_t w, uint32_t h, std::vector<uint32_t> fps = {30}) {
    V4L2Mode m{format, w, h, {}};
    for (uint32_t rate : fps)
        m.intervals.push_back({1, rate});
    return m;
}

struct Case {
    const char* what;
    std::vector<V4L2Mode> offered;
    uint32_t format, width, height;
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }
};

class ModeChoice : public testing::TestWithParam<Case> {};

TEST_P(ModeChoice, PicksTheDocumentedMode) {
    const Case& c = GetParam();
    const V4L2ModeChoice chosen = chooseV4L2Mode(c.offered);
    EXPECT_EQ(fourCharacterCode(chosen.format.pixelFormat), fourCharacterCode(c.format)) << c.what;
    EXPECT_EQ(chosen.format.width, c.width) << c.what;
    EXPECT_EQ(chosen.format.height, c.height) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ModeChoice,
    testing::Values(
        Case{"640 × 480 wins over larger modes listed first",
             {mode(MJPG, 1920, 1080), mode(MJPG, 1280, 720), mode(MJPG, 640, 480)}, MJPG, 640, 480},
        Case{"a tie in rate goes to YUYV", {mode(MJPG, 640, 480), mode(YUYV, 640, 480)}, YUYV, 640, 480},
        Case{"a faster MJPEG beats a slower YUYV",
             {mode(YUYV, 640, 480, {15, 5}), mode(MJPG, 640, 480, {30, 15})}, MJPG, 640, 480},
        Case{"the smallest covering mode, not the first or the widest",
             {mode(MJPG, 1920, 1080), mode(MJPG, 800, 600), mode(MJPG, 720, 480), mode(MJPG, 1280, 720),
              mode(MJPG, 960, 400)},
             MJPG, 720, 480},
        Case{"nothing covers: the largest, scaled up", {mode(YUYV, 320, 240), mode(YUYV, 352, 288)}, YUYV, 352,
             288},
        Case{"neither MJPEG nor YUYV: RGB24 through libv4l2",
             {mode(V4L2_PIX_FMT_H264, 1280, 720), mode(V4L2_PIX_FMT_GREY, 640, 480)}, V4L2_PIX_FMT_RGB24, 640,
             480},
        Case{"no modes listed at all", {}, V4L2_PIX_FMT_RGB24, 640, 480}),
    [](const testing::TestParamInfo<Case>& info) { return "rule" + std::to_string(info.index); });

TEST(ModeChoice, KeepsTheChosenModesIntervalsFastestFirst) {
    const auto chosen = chooseV4L2Mode({mode(MJPG, 1280, 720, {5, 30, 15}), mode(YUYV, 1280, 720, {10})});
    ASSERT_EQ(chosen.intervals.size(), 3u);
    EXPECT_EQ(chosen.intervals.front(), (V4L2Interval{1, 30}));
    EXPECT_EQ(chosen.intervals.back(), (V4L2Interval{1, 5}));
    EXPECT_EQ(fourCharacterCode(chosen.format.pixelFormat), "MJPG");
}
} // namespace
