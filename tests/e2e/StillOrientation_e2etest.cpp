// A JPEG still picture is shown upright as its EXIF orientation says; one whose EXIF block
// is damaged or states an orientation EXIF does not have is shown as stored.
#include <gtest/gtest.h>

#include <array>

#include "HostE2eSupport.h"
#include "support/PictureBytes.h"

namespace {

using pictures::exifOrientation;

// Red, green, blue, grey: each has blue in it, and neither the black around the fitted
// picture nor the yellow outlines of its bright regions have any.
std::array<int, 3> colour(char name) {
    return name == 'R'   ? std::array{200, 30, 30}
           : name == 'G' ? std::array{30, 200, 30}
           : name == 'B' ? std::array{30, 30, 200}
                         : std::array{128, 128, 128};
}

TEST(StillOrientation, EachExifOrientationShowsThePictureUprightAndABadBlockShowsItAsStored) {
    auto folder = e2e::scratchFolder("orientation");
    pictures::Bytes rgb; // 128 × 64, red and green over blue and grey
    for (int i = 0; i < 128 * 64; ++i)
        for (int c : colour("RGBW"[i / 128 / 32 * 2 + i % 128 / 64]))
            rgb.push_back(uint8_t(c));
    const pictures::Bytes stored = pictures::encodeJpeg(128, 64, rgb, {.quality = 95});
    pictures::Bytes farOffset = exifOrientation(6, true);
    farOffset[4] = 0x7F; // the IFD 2 GB on
    struct Case {
        const char* name;
        pictures::Bytes exif;
        const char* shows; // the upright quadrants, top left to bottom right
        bool sideways = false;
    };
    const Case cases[] = {
        {"1", exifOrientation(1), "RGBW"},
        {"2", exifOrientation(2, true), "GRWB"},
        {"3", exifOrientation(3), "WBGR"},
        {"4", exifOrientation(4, true), "BWRG"},
        {"5", exifOrientation(5), "RBGW", true},
        {"6", exifOrientation(6, true), "BRWG", true},
        {"7", exifOrientation(7), "WGBR", true},
        {"8", exifOrientation(8, true), "GWRB", true},
        {"cut short", pictures::cut(exifOrientation(6), 16), "RGBW"},
        {"IFD past the end", farOffset, "RGBW"},
        {"0", exifOrientation(0, true), "RGBW"},
        {"9", exifOrientation(9), "RGBW"},
    };
    const auto script = e2e::writeScript(folder, "wait 5 frames\ncapture shown.png\nquit\n");
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const auto file = pictures::save(folder / "still.jpg", pictures::withExif(stored, test.exif));
        auto run = e2e::runProgram(folder, {"--headless", "--camera", file, "--script", script});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto shown = e2e::readPng(folder / "shown.png");
        ASSERT_EQ(shown.width, 640);
        // Fitted whole into 640 × 480, the picture reaches as far as its blue does (but for an
        // outline, 3 wide, where a bright region's box meets the frame's edge).
        const int width = test.sideways ? 240 : 640, height = test.sideways ? 480 : 320;
        const int left = (640 - width) / 2, top = (480 - height) / 2;
        int x0 = 640, y0 = 480, x1 = 0, y1 = 0;
        for (int i = 0; i < 640 * 480; ++i)
            if (shown.rgba[size_t(i) * 4 + 2] > 12)
                x0 = std::min(x0, i % 640), x1 = std::max(x1, i % 640 + 1), y0 = std::min(y0, i / 640),
                y1 = std::max(y1, i / 640 + 1);
        EXPECT_NEAR(x0, left, 3);
        EXPECT_NEAR(x1, left + width, 3);
        EXPECT_NEAR(y0, top, 3);
        EXPECT_NEAR(y1, top + height, 3);
        for (int q = 0; q < 4; ++q) {
            const int x = left + width / 4 * (1 + q % 2 * 2), y = top + height / 4 * (1 + q / 2 * 2);
            for (size_t c = 0; c < 3; ++c)
                EXPECT_NEAR(shown.rgba[(size_t(y) * 640 + size_t(x)) * 4 + c], colour(test.shows[q])[c], 12)
                    << "quadrant " << q << " channel " << c;
        }
    }
}

} // namespace
