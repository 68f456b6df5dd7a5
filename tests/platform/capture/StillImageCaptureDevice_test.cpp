// The still-image device: pictures delivered unchanged or fitted, properties that still
// behave, and clear errors for files that are missing, not pictures, too large or cut off.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>

#include "CaptureTestSupport.h"
#include "TempDirectory.h"
#include "capture/CaptureError.h"
#include "capture/StillImageCaptureDevice.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

using namespace capturetest;

namespace {

// w × h RGBA pixels, each byte from `byte(index)`.
std::vector<uint8_t> pixels(int w, int h, const std::function<uint8_t(size_t)>& byte) {
    std::vector<uint8_t> out(size_t(w) * h * 4);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = byte(i);
    return out;
}
std::vector<uint8_t> randomPixels(int w, int h, unsigned seed) {
    std::mt19937 random(seed);
    return pixels(w, h, [&](size_t) { return uint8_t(random()); });
}
std::vector<uint8_t> solid(int w, int h, std::array<uint8_t, 4> rgba) {
    return pixels(w, h, [&](size_t i) { return rgba[i % 4]; });
}

std::string writePng(const TempDirectory& dir, const std::string& name, int w, int h,
                     const std::vector<uint8_t>& px) {
    std::string path = dir.file(name);
    if (!stbi_write_png(path.c_str(), w, h, 4, px.data(), w * 4))
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::vector<char> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

const uint8_t* at(const StillImage& image, int x, int y) {
    return &(*image.frame)[(size_t(y) * 640 + size_t(x)) * 4];
}

} // namespace

TEST(StillImageCaptureDevice, A640By480PictureIsDeliveredUnchangedWhateverTheSettings) {
    TempDirectory dir;
    const auto pixels = randomPixels(640, 480, 7);
    NSError error;
    auto device = StillImageCaptureDevice::open(writePng(dir, "scene.png", 640, 480, pixels), &error);
    ASSERT_TRUE(device) << error.localizedDescription();
    EXPECT_EQ(device->localizedName(), "Still Image (scene.png)");

    FrameRecorder frames;
    ASSERT_TRUE(device->startStreaming(frames.handler(), nullptr));
    ASSERT_TRUE(frames.waitFor(2));
    configure(*device, [&] {
        device->setExposureModeCustomWithDuration(CMTime{1, 8}, 1600, nullptr);
        device->setVideoZoomFactor(4.0);
        device->setFocusModeLockedWithLensPosition(0.1f, nullptr);
    });
    auto later = frames.next(2);
    device->stopStreaming();
    EXPECT_EQ(device->ISO(), 1600);
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 4.0);

    auto arrivals = frames.values();
    for (const auto& arrival : arrivals) {
        const auto& buffer = arrival.sample->imageBuffer;
        ASSERT_EQ(buffer->width(), 640);
        ASSERT_EQ(buffer->height(), 480);
        ASSERT_EQ(buffer->bytesPerRow(), 640u * 4);
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), buffer->storage()->begin()));
    }
    EXPECT_NE(arrivals.front().sample->imageBuffer, later->imageBuffer); // a buffer per frame
}

TEST(StillImageCaptureDevice, OtherSizesAreFittedOnBlack) {
    TempDirectory dir;
    NSError error;
    // A wide red strip doubles to 640 × 240, centred with black above and below.
    auto wide =
        loadStillImage(writePng(dir, "wide.png", 320, 120, solid(320, 120, {255, 0, 0, 255})), &error);
    ASSERT_TRUE(wide) << error.localizedDescription();
    EXPECT_EQ(wide->sourceWidth, 320);
    for (auto [x, y] : {std::pair{320, 60}, {320, 118}, {320, 362}, {10, 470}})
        EXPECT_EQ(at(*wide, x, y)[0], 0) << x << "," << y;
    for (auto [x, y] : {std::pair{320, 240}, {0, 121}, {639, 358}}) {
        EXPECT_EQ(at(*wide, x, y)[0], 255) << x << "," << y;
        EXPECT_EQ(at(*wide, x, y)[1], 0);
    }
    EXPECT_EQ(at(*wide, 320, 60)[3], 255); // the bars are opaque

    // A fine checkerboard twice the frame's size averages to grey rather than aliasing.
    auto checks = pixels(1280, 960, [](size_t i) {
        return uint8_t(i % 4 == 3 || (i / 4 % 1280 + i / 4 / 1280) % 2 ? 255 : 0);
    });
    auto large = loadStillImage(writePng(dir, "checks.png", 1280, 960, checks), &error);
    ASSERT_TRUE(large) << error.localizedDescription();
    for (auto [x, y] : {std::pair{0, 0}, {321, 17}, {639, 479}})
        EXPECT_NEAR(at(*large, x, y)[1], 128, 1);

    // A JPEG of the right size loads, close to what was written.
    const auto grey = solid(640, 480, {90, 140, 200, 255});
    std::string jpeg = dir.file("photo.jpg");
    ASSERT_TRUE(stbi_write_jpg(jpeg.c_str(), 640, 480, 4, grey.data(), 95));
    auto photo = loadStillImage(jpeg, &error);
    ASSERT_TRUE(photo) << error.localizedDescription();
    EXPECT_NEAR(at(*photo, 200, 200)[2], 200, 3);
}

TEST(StillImageCaptureDevice, UnusableFilesAreRefusedWithAClearError) {
    TempDirectory dir;
    auto refusal = [](const std::string& path) {
        NSError error;
        EXPECT_FALSE(StillImageCaptureDevice::open(path, &error)) << path;
        return error;
    };

    NSError missing = refusal(dir.file("absent.png"));
    EXPECT_EQ(missing.code(), int(CaptureErrorCode::unreadableFile));
    EXPECT_NE(missing.localizedDescription().find("absent.png"), std::string::npos);
    EXPECT_NE(missing.localizedDescription().find("No such file"), std::string::npos);

    writeAll(dir.file("notes.png"), {'h', 'e', 'l', 'l', 'o', '\n'});
    NSError text = refusal(dir.file("notes.png"));
    EXPECT_EQ(text.code(), int(CaptureErrorCode::notAnImage));
    EXPECT_NE(text.localizedDescription().find("not a PNG or JPEG"), std::string::npos);

    // Cut-off files: a PNG loses its compressed rows, a JPEG its end.
    auto png = readAll(writePng(dir, "whole.png", 640, 480, randomPixels(640, 480, 3)));
    png.resize(png.size() / 2);
    writeAll(dir.file("cut.png"), png);
    EXPECT_EQ(refusal(dir.file("cut.png")).code(), int(CaptureErrorCode::damagedImage));
    const auto rgba = randomPixels(640, 480, 4);
    ASSERT_TRUE(stbi_write_jpg(dir.file("whole.jpg").c_str(), 640, 480, 4, rgba.data(), 90));
    auto jpeg = readAll(dir.file("whole.jpg"));
    jpeg.resize(jpeg.size() * 2 / 3);
    writeAll(dir.file("cut.jpg"), jpeg);
    NSError cut = refusal(dir.file("cut.jpg"));
    EXPECT_EQ(cut.code(), int(CaptureErrorCode::damagedImage));
    EXPECT_NE(cut.localizedDescription().find("truncated"), std::string::npos);

    // A JPEG whose Huffman table claims more than 256 codes never reaches the decoder
    // (which would write past its own tables); found by the still-image fuzzer.
    // Huffman tables whose counts would overflow the decoder's: after the frame header,
    // before it (where even reading the picture's size builds them), and in a file that
    // starts with fill bytes before its start-of-image marker.
    for (const char* name :
         {"jpeg-huffman-counts-over-256.jpg", "jpeg-huffman-counts-over-256-before-the-frame-header.jpg",
          "jpeg-huffman-counts-over-256-after-fill-bytes.jpg"}) {
        NSError huffman =
            refusal(std::string(FERNHOLD_SOURCE_DIR) + "/fuzz/regressions/fuzz_still_image/" + name);
        EXPECT_EQ(huffman.code(), int(CaptureErrorCode::damagedImage)) << name;
        EXPECT_NE(huffman.localizedDescription().find("Huffman"), std::string::npos) << name;
    }

    // Huge sizes are refused from the header alone: a 1 × 1 PNG claiming more.
    auto tiny = readAll(writePng(dir, "tiny.png", 1, 1, solid(1, 1, {1, 2, 3, 255})));
    auto claim = [&](uint32_t w, uint32_t h, const std::string& name) {
        auto bytes = tiny;
        for (int i = 0; i < 4; ++i) {
            bytes[16 + size_t(i)] = char(w >> (24 - 8 * i));
            bytes[20 + size_t(i)] = char(h >> (24 - 8 * i));
        }
        writeAll(dir.file(name), bytes);
        return refusal(dir.file(name));
    };
    NSError tall = claim(640, 20000, "tall.png");
    EXPECT_EQ(tall.code(), int(CaptureErrorCode::imageTooLarge));
    EXPECT_NE(tall.localizedDescription().find("640 x 20000"), std::string::npos);
    EXPECT_EQ(claim(9000, 8000, "wide.png").code(), int(CaptureErrorCode::imageTooLarge)); // 72 megapixels
    // So large that the decoder will not even describe it: still refused for its size.
    NSError square = claim(40000, 40000, "square.png");
    EXPECT_EQ(square.code(), int(CaptureErrorCode::imageTooLarge));
    EXPECT_NE(square.localizedDescription().find("40000 x 40000"), std::string::npos);
}
