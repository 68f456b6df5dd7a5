// The still-image device and its decoders: every PNG and JPEG form shows the colours it
// holds, pictures are delivered unchanged or fitted, properties still behave, and files
// that are missing, not pictures, too large or damaged are refused with a clear error.
#include <gtest/gtest.h>

#include "../CaptureTestSupport.h"
#include "../TempDirectory.h"
#include "capture/CaptureError.h"
#include "capture/still/StillImageCaptureDevice.h"
#include "support/PictureBytes.h"

using namespace capturetest;
using pictures::Bytes;

namespace {

void expectColour(const uint8_t* rgba, int width, int x, int y, std::array<int, 3> expected, int tolerance,
                  const std::string& what) {
    const uint8_t* pixel = rgba + (size_t(y) * size_t(width) + size_t(x)) * 4;
    for (size_t c = 0; c < 3; ++c)
        EXPECT_NEAR(pixel[c], expected[c], tolerance) << what << " at " << x << "," << y << " channel " << c;
    EXPECT_EQ(pixel[3], 255) << what;
}

// w × h pixels, each given as its samples' bytes: `second` where useSecond(x, y).
Bytes pattern(int w, int h, const Bytes& first, const Bytes& second, bool (*useSecond)(int, int)) {
    Bytes samples;
    for (int i = 0; i < w * h; ++i)
        for (uint8_t byte : useSecond(i % w, i / w) ? second : first)
            samples.push_back(byte);
    return samples;
}

} // namespace

TEST(StillImageDecoder, EveryPngAndJpegFormShowsItsColours) {
    auto irregular = [](int x, int y) { return x % 3 == y % 2; }; // every Adam7 pass holds both colours
    auto halves = [](int x, int) { return x >= 16; };
    auto png = [&](int type, int depth, Bytes first, Bytes second, bool interlaced = false,
                   Bytes transparency = {}) {
        Bytes palette =
            type == PNG_COLOR_TYPE_PALETTE ? Bytes{250, 10, 20, 30, 40, 200, 90, 90, 90} : Bytes{};
        return pictures::encodePng(32, 16, pattern(32, 16, first, second, irregular),
                                   {type, depth, interlaced, palette, transparency});
    };
    auto jpeg = [&](pictures::JpegForm form, Bytes left, Bytes right) {
        return pictures::encodeJpeg(32, 16, pattern(32, 16, left, right, halves), form);
    };
    struct Case {
        const char* name;
        Bytes file;
        std::array<int, 3> firstShows, secondShows;
    };
    // Samples are bytes, 16-bit ones big-endian. Transparency is composited over black. CMYK
    // inks (0, 200, 200, 55) show (200, 43, 43): stored as they are, or inverted where an
    // Adobe marker says so (YCCK always has one).
    // clang-format off
    const std::vector<Case> cases{
        {"grey", png(PNG_COLOR_TYPE_GRAY, 8, {32}, {224}), {32, 32, 32}, {224, 224, 224}},
        {"grey 1-bit", png(PNG_COLOR_TYPE_GRAY, 1, {0}, {1}), {0, 0, 0}, {255, 255, 255}},
        {"grey 16-bit", png(PNG_COLOR_TYPE_GRAY, 16, {0x80, 0x80}, {0x20, 0x20}), {128, 128, 128}, {32, 32, 32}},
        {"grey, alpha", png(PNG_COLOR_TYPE_GRAY_ALPHA, 8, {200, 255}, {200, 128}), {200, 200, 200}, {100, 100, 100}},
        {"palette", png(PNG_COLOR_TYPE_PALETTE, 8, {0}, {1}), {250, 10, 20}, {30, 40, 200}},
        {"palette 2-bit, tRNS", png(PNG_COLOR_TYPE_PALETTE, 2, {2}, {1}, false, {255, 0}), {90, 90, 90}, {0, 0, 0}},
        {"RGB 16-bit", png(PNG_COLOR_TYPE_RGB, 16, {255, 255, 128, 128, 0, 0}, {16, 16, 32, 32, 48, 48}), {255, 128, 0}, {16, 32, 48}},
        {"RGBA", png(PNG_COLOR_TYPE_RGBA, 8, {10, 20, 30, 255}, {200, 100, 50, 0}), {10, 20, 30}, {0, 0, 0}},
        {"RGBA 16-bit", png(PNG_COLOR_TYPE_RGBA, 16, {0, 0, 255, 255, 0, 0, 255, 255}, {255, 255, 0, 0, 0, 0, 128, 128}), {0, 255, 0}, {128, 0, 0}},
        {"Adam7 RGB", png(PNG_COLOR_TYPE_RGB, 8, {255, 0, 0}, {0, 0, 255}, true), {255, 0, 0}, {0, 0, 255}},
        {"Adam7 grey, alpha 16-bit", png(PNG_COLOR_TYPE_GRAY_ALPHA, 16, {255, 255, 255, 255}, {255, 255, 0, 0}, true), {255, 255, 255}, {0, 0, 0}},
        {"baseline", jpeg({}, {220, 30, 40}, {20, 160, 90}), {220, 30, 40}, {20, 160, 90}},
        {"progressive", jpeg({.progressive = true}, {220, 30, 40}, {20, 160, 90}), {220, 30, 40}, {20, 160, 90}},
        {"JPEG grey", jpeg({.input = JCS_GRAYSCALE, .components = 1}, {40}, {210}), {40, 40, 40}, {210, 210, 210}},
        {"CMYK", jpeg({.input = JCS_CMYK, .components = 4, .adobeMarker = false}, {0, 200, 200, 55}, {0, 0, 0, 0}), {200, 43, 43}, {255, 255, 255}},
        {"Adobe CMYK", jpeg({.input = JCS_CMYK, .components = 4}, {255, 55, 55, 200}, {0, 0, 0, 255}), {200, 43, 43}, {0, 0, 0}},
        {"Adobe YCCK", jpeg({.input = JCS_CMYK, .stored = JCS_YCCK, .components = 4}, {255, 55, 55, 200}, {0, 0, 0, 255}), {200, 43, 43}, {0, 0, 0}},
    };
    // clang-format on
    for (const auto& test : cases) {
        const bool lossy = test.file[0] == 0xFF;
        StillImageRefusal refusal;
        auto image = decodeStillImage(test.file.data(), test.file.size(), 640, 480, &refusal);
        ASSERT_TRUE(image) << test.name << ": " << refusal.reason;
        for (int x = 0; x < 32; ++x)
            for (int y = 0; y < 16 && (!lossy || std::abs(2 * x - 31) > 7); ++y) // JPEG: away from the seam
                expectColour(image->rgba.data(), 32, x, y,
                             (lossy ? halves(x, y) : irregular(x, y)) ? test.secondShows : test.firstShows,
                             lossy ? 6 : 1, test.name);
    }
}

// A photo stored sideways is fitted at its upright size: 2000 × 1000 stored is 1000 × 2000
// upright, 0.24 of which fits 480 high, so a quarter is decoded (a half as stored).
TEST(StillImageDecoder, ASidewaysJpegIsDecodedAtTheScaleItsUprightSizeNeeds) {
    const Bytes file = pictures::withExif(pictures::jpeg(2000, 1000), pictures::exifOrientation(6));
    auto image = decodeStillImage(file.data(), file.size(), 640, 480, nullptr);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->fileWidth, 2000);
    EXPECT_EQ(image->width, 250);
    EXPECT_EQ(image->height, 500);
    EXPECT_EQ(image->rgba.size(), size_t(250 * 500 * 4));
}

// A 640 × 480 picture is delivered unchanged, one of other proportions fitted on black.
TEST(StillImageCaptureDevice, A640By480PictureIsDeliveredUnchangedAndOtherSizesAreFittedOnBlack) {
    TempDirectory dir;
    const Bytes rgb = pictures::rgb(640, 480);
    Bytes rgba;
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgba.insert(rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 255});
    NSError error;
    auto device = StillImageCaptureDevice::open(
        pictures::save(dir.file("scene.png"), pictures::encodePng(640, 480, rgb)), &error);
    ASSERT_TRUE(device) << error.localizedDescription();
    EXPECT_EQ(device->localizedName(), "Still Image (scene.png)");

    FrameRecorder frames;
    ASSERT_TRUE(device->startStreaming(frames.handler(), nullptr));
    auto later = frames.next(3);
    device->stopStreaming();
    for (const auto& arrival : frames.values()) {
        ASSERT_EQ(arrival.sample->imageBuffer->bytesPerRow(), 640u * 4);
        EXPECT_TRUE(std::equal(rgba.begin(), rgba.end(), arrival.sample->imageBuffer->storage()->begin()));
    }
    EXPECT_NE(frames.values().front().sample->imageBuffer, later->imageBuffer); // a buffer per frame

    // A fine checkerboard JPEG four times the frame's width and of twice its proportions
    // is fitted to 640 × 240, centred with black above and below, and averages to grey
    // rather than aliasing however the decoder shrinks it.
    Bytes checks(2560 * 960);
    for (size_t i = 0; i < checks.size(); ++i)
        checks[i] = (i % 2560 + i / 2560) % 2 ? 255 : 0;
    const Bytes jpeg =
        pictures::encodeJpeg(2560, 960, checks, {.input = JCS_GRAYSCALE, .components = 1, .quality = 95});
    auto wide = loadStillImage(pictures::save(dir.file("checks.jpg"), jpeg), &error);
    ASSERT_TRUE(wide) << error.localizedDescription();
    EXPECT_EQ(wide->sourceWidth, 2560);
    for (auto [x, y, shows] :
         {std::tuple{320, 60, 0}, {10, 470, 0}, {320, 240, 128}, {0, 121, 128}, {639, 358, 128}})
        expectColour(wide->frame->data(), 640, x, y, {shows, shows, shows}, 4, "checks");
}

TEST(StillImageCaptureDevice, UnusableFilesAreRefusedWithAClearError) {
    TempDirectory dir;
    const Bytes png = pictures::png(64, 48), jpeg = pictures::jpeg(64, 48);
    Bytes scrambled = jpeg;
    for (size_t i = scrambled.size() / 2; i < scrambled.size() / 2 + 40; ++i)
        scrambled[i] ^= 0x5A;
    auto file = [&](const std::string& name, const Bytes& bytes) {
        return pictures::save(dir.file(name), bytes);
    };
    const std::string regression = std::string(FERNHOLD_SOURCE_DIR) + "/fuzz/regressions/fuzz_still_image/";
    using enum CaptureErrorCode;
    // clang-format off
    const std::vector<std::tuple<std::string, CaptureErrorCode, std::string>> cases{
        {dir.file("absent.png"), unreadableFile, "No such file"},
        {file("notes.png", pictures::text("hello\n")), notAnImage, "not a PNG or JPEG"},
        {file("cut.png", pictures::cut(png, png.size() / 2)), damagedImage, "the file ends early"},
        {file("cut.jpg", pictures::cut(jpeg, jpeg.size() * 2 / 3)), damagedImage, "the file ends early"},
        {file("scrambled.jpg", scrambled), damagedImage, "Corrupt JPEG data"},
        // Huffman tables whose counts pass 256, after the frame header, before it, and after
        // fill bytes: found by the fuzzer when another decoder overran its tables.
        {regression + "jpeg-huffman-counts-over-256.jpg", damagedImage, "Huffman"},
        {regression + "jpeg-huffman-counts-over-256-before-the-frame-header.jpg", damagedImage, "damaged"},
        {regression + "jpeg-huffman-counts-over-256-after-fill-bytes.jpg", damagedImage, "Huffman"},
        // Sizes beyond the limits are refused from the header, not found out by decoding.
        {file("tall.png", pictures::pngClaiming(640, 20000)), imageTooLarge, "640 x 20000"},
        {file("wide.png", pictures::pngClaiming(9000, 8000)), imageTooLarge, "at most 16384 on a side and 64 megapixels"},
        {file("vast.png", pictures::pngClaiming(40000, 40000)), imageTooLarge, "40000 x 40000"},
        {file("wide.jpg", pictures::jpegClaiming(20000, 16)), imageTooLarge, "20000 x 16"},
        {file("tall.jpg", pictures::jpegClaiming(100, 65535)), imageTooLarge, "100 x 65535"},
    };
    // clang-format on
    for (const auto& [path, code, because] : cases) {
        NSError error;
        EXPECT_FALSE(StillImageCaptureDevice::open(path, &error)) << path;
        EXPECT_EQ(error.code(), int(code)) << error.localizedDescription();
        EXPECT_NE(error.localizedDescription().find(because), std::string::npos)
            << error.localizedDescription();
        EXPECT_NE(error.localizedDescription().find(path), std::string::npos) << error.localizedDescription();
    }
}
