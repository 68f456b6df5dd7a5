// The program at another picture size: a still picture of that size goes through the
// whole picture path at it, outlined where its bright square is; sizes it cannot use are
// refused before anything opens.
#include <gtest/gtest.h>

#include "HostE2eSupport.h"
#include "host/screen/PngFile.h"

namespace {

constexpr unsigned char yellow[3] = {255, 255, 0};

// Yellow pixels of `frame` inside the rectangle [x0, x1) × [y0, y1).
size_t yellowWithin(const e2e::Picture& frame, int x0, int y0, int x1, int y1) {
    size_t n = 0;
    for (int y = std::max(0, y0); y < std::min(frame.height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(frame.width, x1); ++x) {
            const unsigned char* p = &frame.rgba[(size_t(y) * size_t(frame.width) + size_t(x)) * 4];
            n += p[0] == yellow[0] && p[1] == yellow[1] && p[2] == yellow[2];
        }
    return n;
}

TEST(PictureSize, AStillOfTheAskedSizeIsCapturedAtItWithItsBrightSquareOutlinedInPlace) {
    auto folder = e2e::scratchFolder("size-still");
    // Dark grey, with a white 40 × 40 square right of the middle, above it.
    constexpr int width = 1280, height = 720, left = 900, top = 200, side = 40;
    std::vector<uint8_t> rgba(size_t(width) * height * 4, 40);
    for (size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = 255;
    for (int y = top; y < top + side; ++y)
        std::fill_n(&rgba[(size_t(y) * width + left) * 4], side * 4, uint8_t(255));
    NSError error;
    ASSERT_TRUE(host::writePng((folder / "still.png").string(), width, height, rgba, &error));
    auto script = e2e::writeScript(folder, "wait 15 frames\ncapture frame.png\nquit\n");

    auto run = e2e::runProgram(
        folder, {"--headless", "--camera", "still.png", "--size", "1280x720", "--script", script});
    ASSERT_EQ(run.status, 0) << run.err;
    auto frame = e2e::readPng(folder / "frame.png");
    ASSERT_EQ(frame.width, width);
    ASSERT_EQ(frame.height, height);
    // The square's box reaches 10 pixels beyond it; its outline is drawn on the box's edges.
    const int boxLeft = left - 10, boxTop = top - 10, boxRight = left + side + 10,
              boxBottom = top + side + 10;
    for (auto [x0, y0, x1, y1] : {std::array{boxLeft - 3, boxTop, boxLeft + 3, boxBottom},
                                  std::array{boxRight - 3, boxTop, boxRight + 3, boxBottom},
                                  std::array{boxLeft, boxTop - 3, boxRight, boxTop + 3},
                                  std::array{boxLeft, boxBottom - 3, boxRight, boxBottom + 3}})
        EXPECT_GT(yellowWithin(frame, x0, y0, x1, y1), size_t(x1 - x0 + y1 - y0)) << x0 << "," << y0;
    EXPECT_EQ(yellowWithin(frame, 0, 0, width, height),
              yellowWithin(frame, boxLeft - 4, boxTop - 4, boxRight + 4, boxBottom + 4))
        << "no outline anywhere else";
    EXPECT_EQ(frame.rgba[(size_t(top + side / 2) * width + left + side / 2) * 4], 255)
        << "the square in place";
    EXPECT_NE(run.out.find("found 1 bounding boxes"), std::string::npos);

    // Without --size the same picture is shown whole at 640 × 480, as always.
    auto plain = e2e::runProgram(folder, {"--headless", "--camera", "still.png", "--script", script});
    ASSERT_EQ(plain.status, 0) << plain.err;
    auto small = e2e::readPng(folder / "frame.png");
    EXPECT_EQ(small.width, 640);
    EXPECT_EQ(small.height, 480);
}

TEST(PictureSize, SizesThatCannotBeUsedAreOneLineAndStatusTwoBeforeAnythingOpens) {
    auto folder = e2e::scratchFolder("size-bad");
    for (const char* bad : {"0x0", "641x480", "4000x3000", "1280", "wide"}) {
        auto run = e2e::runProgram(folder, {"--headless", "--size", bad, "--camera", "/dev/video9"});
        EXPECT_EQ(run.status, 2) << bad;
        ASSERT_EQ(run.errLines.size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("fernhold: --size '", 0), 0u) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

} // namespace
