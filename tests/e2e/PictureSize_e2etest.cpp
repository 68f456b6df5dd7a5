// The program at another picture size: a still picture of that size goes through the
// whole picture path at it, outlined where its bright square is.
#include <gtest/gtest.h>

#include "HostE2eSupport.h"
#include "host/screen/PngFile.h"

namespace {

// Yellow pixels of `frame` inside [x0, x1) × [y0, y1).
size_t yellowWithin(const e2e::Picture& frame, int x0, int y0, int x1, int y1) {
    size_t n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const unsigned char* p = &frame.rgba[(size_t(y) * size_t(frame.width) + size_t(x)) * 4];
            n += p[0] == 255 && p[1] == 255 && p[2] == 0;
        }
    return n;
}

TEST(PictureSize, AStillOfTheAskedSizeIsCapturedAtItWithItsBrightSquareOutlinedInPlace) {
    auto folder = e2e::scratchFolder("size-still");
    // Dark grey, with a white 40 × 40 square right of the middle, above it.
    constexpr int width = 1280, height = 720, left = 900, top = 200, side = 40;
    std::vector<uint8_t> rgba(size_t(width) * height * 4, 40);
    for (size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = 255; // opaque
    for (int y = top; y < top + side; ++y)
        std::fill_n(&rgba[(size_t(y) * width + left) * 4], side * 4, uint8_t(255));
    NSError error;
    ASSERT_TRUE(host::writePng((folder / "still.png").string(), width, height, rgba, &error));
    auto script = e2e::writeScript(folder, "wait 15 frames\ncapture frame.png\nquit\n");
    auto run = e2e::runProgram(
        folder, {"--headless", "--camera", "still.png", "--size", "1280x720", "--script", script});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("found 1 bounding boxes"), std::string::npos);
    auto frame = e2e::readPng(folder / "frame.png");
    ASSERT_EQ(frame.width, width);
    ASSERT_EQ(frame.height, height);
    // The box reaches 10 pixels beyond the square; the outline lies on its edges, 3 wide,
    // and nowhere else.
    const int x0 = left - 10, y0 = top - 10, x1 = left + side + 10, y1 = top + side + 10;
    const size_t outline = yellowWithin(frame, x0 - 3, y0 - 3, x1 + 3, y1 + 3);
    EXPECT_GT(outline, size_t(4 * 60 * 2));
    EXPECT_EQ(yellowWithin(frame, x0 + 3, y0 + 3, x1 - 3, y1 - 3), 0u);
    EXPECT_EQ(yellowWithin(frame, 0, 0, width, height), outline);
}

} // namespace
