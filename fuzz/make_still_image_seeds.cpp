// Writes the seed pictures for fuzz_still_image into the first folder named on its command
// line: small PNGs of every colour type, bit depth and interlacing the decoder handles,
// small JPEGs of every kind it reads, and files that claim sizes beyond the limits or end
// early. Into the second, when given, the webcam frames for fuzz_camera_frame: small MJPEG
// frames of a few modes and kinds, and YUYV frames after their four bytes of mode. A
// fuzzer that starts from valid files reaches the decoders' inner loops in seconds instead
// of hours.
//
//   make_still_image_seeds fuzz/corpus/fuzz_still_image fuzz/corpus/fuzz_camera_frame
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/PictureBytes.h"

namespace {

using pictures::Bytes;
std::filesystem::path folder;

void save(const std::string& name, const Bytes& bytes) {
    pictures::save(folder / name, bytes);
}

// A YUYV frame as fuzz_camera_frame reads it: width / 2 - 1 and height - 1, little-endian,
// then the pixels.
Bytes yuyvFrame(int width, int height) {
    Bytes frame{uint8_t(width / 2 - 1), uint8_t((width / 2 - 1) >> 8), uint8_t(height - 1),
                uint8_t((height - 1) >> 8)};
    for (int i = 0; i < width * height * 2; ++i)
        frame.push_back(uint8_t(i % 4 == 0 || i % 4 == 2 ? 16 + i * 7 % 220 : 128 + i % 64 - 32));
    return frame;
}

// width × height pixels of `channels` samples each, a byte per sample (two at 16 bits);
// samples are kept below 2^depth.
Bytes samples(int width, int height, int channels, int depth) {
    const size_t bytesPerSample = depth == 16 ? 2 : 1;
    Bytes result(size_t(width) * size_t(height) * size_t(channels) * bytesPerSample);
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = uint8_t(((i * 97 + i / 7) & 0xFF) >> (depth < 8 ? 8 - depth : 0));
    return result;
}

Bytes png(int width, int height, int colourType, int depth, bool interlaced = false, Bytes palette = {},
          Bytes transparency = {}) {
    const int channels = colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_PALETTE ? 1
                         : colourType == PNG_COLOR_TYPE_GRAY_ALPHA                                 ? 2
                         : colourType == PNG_COLOR_TYPE_RGB                                        ? 3
                                                                                                   : 4;
    return pictures::encodePng(width, height, samples(width, height, channels, depth),
                               {colourType, depth, interlaced, std::move(palette), std::move(transparency)});
}

Bytes jpeg(int width, int height, pictures::JpegForm form) {
    return pictures::encodeJpeg(width, height, samples(width, height, form.components, 8), form);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_still_image_seeds STILL_IMAGE_FOLDER [CAMERA_FRAME_FOLDER]\n");
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);

    save("png-grey-1x1.png", png(1, 1, PNG_COLOR_TYPE_GRAY, 8));
    save("png-grey-alpha-2x3.png", png(2, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 8));
    save("png-rgb-7x5.png", png(7, 5, PNG_COLOR_TYPE_RGB, 8));
    save("png-rgba-16x9.png", png(16, 9, PNG_COLOR_TYPE_RGBA, 8));
    save("png-rgb-640x480.png", pictures::encodePng(640, 480, Bytes(640 * 480 * 3, 0x40)));
    Bytes palette(3 * 256);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = uint8_t(i * 7);
    save("png-palette-trns-5x3.png",
         png(5, 3, PNG_COLOR_TYPE_PALETTE, 8, false, palette, Bytes{0, 128, 255}));
    save("png-palette-2bit-adam7-9x10.png",
         png(9, 10, PNG_COLOR_TYPE_PALETTE, 2, true, Bytes(palette.begin(), palette.begin() + 12)));
    save("png-grey-1bit-13x2.png", png(13, 2, PNG_COLOR_TYPE_GRAY, 1));
    save("png-grey-4bit-5x3.png", png(5, 3, PNG_COLOR_TYPE_GRAY, 4));
    save("png-rgb-16bit-3x2.png", png(3, 2, PNG_COLOR_TYPE_RGB, 16));
    save("png-rgba-16bit-2x2.png", png(2, 2, PNG_COLOR_TYPE_RGBA, 16));
    save("png-rgb-adam7-9x10.png", png(9, 10, PNG_COLOR_TYPE_RGB, 8, true));
    save("png-claims-20000x20000.png", pictures::pngClaiming(20000, 20000));
    save("png-claims-16384x4096.png", pictures::pngClaiming(16384, 4096));
    save("png-cut.png", pictures::cut(png(16, 9, PNG_COLOR_TYPE_RGBA, 8), 60));

    save("jpeg-grey-8x8.jpg", jpeg(8, 8, {.input = JCS_GRAYSCALE, .components = 1, .quality = 90}));
    save("jpeg-rgb-17x13.jpg", jpeg(17, 13, {.quality = 75}));
    save("jpeg-rgb-progressive-17x13.jpg", jpeg(17, 13, {.quality = 75, .progressive = true}));
    save("jpeg-rgb-no-huffman-tables-24x16.jpg", jpeg(24, 16, {.huffmanTables = false}));
    // EXIF orientations, in both byte orders: the fuzzer mutates the TIFF directory too.
    save("jpeg-exif-6-mm-17x13.jpg",
         pictures::withExif(jpeg(17, 13, {.quality = 75}), pictures::exifOrientation(6, true)));
    save("jpeg-exif-3-ii-17x13.jpg",
         pictures::withExif(jpeg(17, 13, {.quality = 75}), pictures::exifOrientation(3)));
    save("jpeg-cmyk-adobe-9x9.jpg", jpeg(9, 9, {.input = JCS_CMYK, .components = 4}));
    save("jpeg-ycck-9x9.jpg", jpeg(9, 9, {.input = JCS_CMYK, .stored = JCS_YCCK, .components = 4}));
    save("jpeg-rgb-640x480.jpg", pictures::encodeJpeg(640, 480, Bytes(640 * 480 * 3, 0x90), {.quality = 20}));
    save("jpeg-claims-60000x60000.jpg", pictures::jpegClaiming(jpeg(8, 8, {.quality = 50}), 60000, 60000));
    save("jpeg-claims-1024x768.jpg", pictures::jpegClaiming(jpeg(8, 8, {.quality = 50}), 1024, 768));
    Bytes whole = jpeg(17, 13, {.quality = 75});
    save("jpeg-cut.jpg", pictures::cut(whole, whole.size() * 2 / 3));
    save("not-an-image.png", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0});
    if (argc == 2)
        return 0;

    folder = argv[2];
    std::filesystem::create_directories(folder);
    save("mjpeg-160x90.jpg", jpeg(160, 90, {.quality = 60, .huffmanTables = false}));
    save("mjpeg-96x72.jpg", jpeg(96, 72, {.quality = 60}));
    save("mjpeg-64x64-grey.jpg", jpeg(64, 64, {.input = JCS_GRAYSCALE, .components = 1}));
    save("mjpeg-40x30-progressive.jpg", jpeg(40, 30, {.progressive = true}));
    save("mjpeg-33x17.jpg", jpeg(33, 17, {}));
    save("mjpeg-1x1.jpg", jpeg(1, 1, {}));
    save("yuyv-40x30.yuyv", yuyvFrame(40, 30));
    save("yuyv-48x20.yuyv", yuyvFrame(48, 20));
    save("yuyv-16x40.yuyv", yuyvFrame(16, 40));
    return 0;
}
