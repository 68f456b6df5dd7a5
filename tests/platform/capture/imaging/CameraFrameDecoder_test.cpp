// Webcam frames to the 640 × 480 frame: MJPEG and YUYV pictures of other modes are scaled to
// cover it and cropped to the centre, every region of the picture landing where it should; a
// 640 × 480 picture passes through; a damaged frame is refused with a reason. (MJPEG without
// Huffman tables is the emulated webcam's, decoded by the program in Webcam_e2etest.)
#include <gtest/gtest.h>

#include <cmath>

#include "capture/imaging/CameraFrameDecoder.h"
#include "support/PictureBytes.h"

using pictures::Bytes;

namespace {

// A picture of 8 × 6 cells, each its own colour.
std::array<int, 3> cellColour(int column, int row) {
    return {30 + 28 * column, 40 + 36 * row, (column + row) % 2 ? 210 : 50};
}

Bytes cells(int width, int height) {
    Bytes rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int channel : cellColour(x * 8 / width, y * 6 / height))
                rgb.push_back(uint8_t(channel));
    return rgb;
}

// BT.601 limited range, each pair of pixels sharing the first one's chroma.
Bytes yuyv(const Bytes& rgb) {
    Bytes out;
    auto byte = [](double value) { return uint8_t(std::lround(value)); };
    for (size_t i = 0; i + 5 < rgb.size(); i += 6) {
        auto luma = [&](size_t at) {
            return byte(16 + (65.481 * rgb[at] + 128.553 * rgb[at + 1] + 24.966 * rgb[at + 2]) / 255);
        };
        const double r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
        out.insert(out.end(), {luma(i), byte(128 + (-37.797 * r - 74.203 * g + 112 * b) / 255), luma(i + 3),
                               byte(128 + (112 * r - 93.786 * g - 18.214 * b) / 255)});
    }
    return out;
}

bool decode(CameraFrameDecoder& decoder, const Bytes& jpeg, Bytes& frame, std::string& reason) {
    return decoder.decodeJpegFrame(jpeg.data(), jpeg.size(), frame.data(), 640, 480, 640 * 4, &reason);
}

} // namespace

TEST(CameraFrameDecoder, EveryModeCoversTheFrameCroppedToTheCentre) {
    CameraFrameDecoder decoder; // one for every mode, as for a camera that changes mode
    Bytes frame(640 * 480 * 4);
    std::string reason;
    // Each mode with the corner of its crop, and the picture pixels per frame pixel.
    // clang-format off
    for (auto [width, height, cropX, cropY, scale] : {std::tuple{1280, 720, 160.0, 0.0, 1.5}, {1920, 1080, 240.0, 0.0, 2.25},
                                                      {640, 480, 0.0, 0.0, 1.0}, {1280, 1024, 0.0, 32.0, 2.0}, {320, 240, 0.0, 0.0, 0.5}}) {
        // clang-format on
        const Bytes rgb = cells(width, height),
                    jpeg = pictures::encodeJpeg(width, height, rgb, {.quality = 90});
        for (bool mjpeg : {true, false}) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) +
                         (mjpeg ? " MJPEG" : " YUYV"));
            if (mjpeg)
                ASSERT_TRUE(decode(decoder, jpeg, frame, reason)) << reason;
            else
                decoder.convertYuyvFrame(yuyv(rgb).data(), width, height, size_t(width) * 2, frame.data(),
                                         640, 480, 640 * 4);
            // Each cell not cropped away shows its colour, at its centre and close to its edges.
            for (int column = 0; column < 8; ++column)
                for (int row = 0; row < 6; ++row)
                    for (double across : {-0.45, 0.0, 0.45})
                        for (double down : {-0.45, 0.0, 0.45}) {
                            const int x = int(((column + 0.5 + across) * width / 8 - cropX) / scale);
                            const int y = int(((row + 0.5 + down) * height / 6 - cropY) / scale);
                            if (x < 0 || x >= 640 || y < 0 || y >= 480)
                                continue;
                            const uint8_t* pixel = &frame[(size_t(y) * 640 + size_t(x)) * 4];
                            for (size_t c = 0; c < 3; ++c)
                                ASSERT_NEAR(pixel[c], cellColour(column, row)[c], 8)
                                    << x << "," << y << " channel " << c;
                            ASSERT_EQ(pixel[3], 255);
                        }
        }
    }
}

// What real cameras send: padding before each restart marker (libjpeg warns of "extraneous
// bytes" and finds the marker: the picture is whole, the warning counted). A frame cut short
// or no JPEG at all is refused with a one-line reason, and the decoder goes on with the next
// good frame.
TEST(CameraFrameDecoder, CamerasMjpegQuirksDecodeWholeAndDamagedFramesAreRefused) {
    const Bytes jpeg = pictures::encodeJpeg(1280, 720, cells(1280, 720), {.restartInterval = 1});
    const Bytes padded = pictures::padRestartMarkers(jpeg);
    ASSERT_GT(padded.size(), jpeg.size() + 10 * 32) << "too few restart markers";
    Bytes whole(640 * 480 * 4), decoded(640 * 480 * 4);
    std::string reason;
    CameraFrameDecoder decoder, fresh;
    ASSERT_TRUE(decode(decoder, jpeg, whole, reason)) << reason;
    EXPECT_EQ(decoder.framesWithWarnings(), 0u);
    ASSERT_TRUE(decode(fresh, padded, decoded, reason)) << reason;
    EXPECT_EQ(decoded, whole);
    for (const Bytes& damaged :
         {pictures::cut(padded, padded.size() * 2 / 3), pictures::text("not a frame")}) {
        reason.clear();
        EXPECT_FALSE(decode(fresh, damaged, decoded, reason));
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
    EXPECT_EQ(fresh.framesWithWarnings(), 1u) << "a frame cut short is damage, warnings or not";
    EXPECT_TRUE(decode(fresh, jpeg, decoded, reason));
    EXPECT_EQ(decoded, whole);
}
