// Writes the seed pictures for fuzz_still_image into the folder named on its command line:
// small PNGs of every colour type, bit depth and interlacing the decoder handles, small
// baseline JPEGs, and files that claim sizes beyond the limits or end early. A fuzzer that
// starts from valid files reaches the decoders' inner loops in seconds instead of hours.
//
//   make_still_image_seeds fuzz/corpus/fuzz_still_image
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/PictureBytes.h"

namespace {

using pictures::Bytes;
std::filesystem::path folder;

void save(const std::string& name, const Bytes& bytes) {
    pictures::save(folder / name, bytes);
}

Bytes pixels(int width, int height, int channels) {
    Bytes result(size_t(width) * height * channels);
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = uint8_t((i * 97 + i / 7) & 0xFF);
    return result;
}

Bytes stbPng(int width, int height, int channels) {
    Bytes out, in = pixels(width, height, channels);
    stbi_write_png_to_func(pictures::appendTo, &out, width, height, channels, in.data(), width * channels);
    return out;
}

Bytes stbJpeg(int width, int height, int channels, int quality) {
    Bytes out, in = pixels(width, height, channels);
    stbi_write_jpg_to_func(pictures::appendTo, &out, width, height, channels, in.data(), quality);
    return out;
}

// ---- Hand-made PNGs for the forms stb_image_write does not produce ----------------------

void put32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void chunk(Bytes& png, const char type[5], const Bytes& body) {
    put32(png, uint32_t(body.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    png.insert(png.end(), typed.begin(), typed.end());
    put32(png, pictures::crc32(typed.data(), typed.size()));
}

Bytes deflate(const Bytes& raw) {
    int size = 0;
    unsigned char* packed = stbi_zlib_compress(const_cast<uint8_t*>(raw.data()), int(raw.size()), &size, 8);
    Bytes result(packed, packed + size);
    STBIW_FREE(packed);
    return result;
}

// `scanlines`: the filtered rows (each with its filter byte), already in pass order for
// an interlaced picture.
Bytes handPng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, bool interlaced,
              const Bytes& scanlines, const Bytes& palette = {}, const Bytes& transparency = {}) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {depth, colourType, 0, 0, uint8_t(interlaced ? 1 : 0)});
    chunk(png, "IHDR", header);
    if (!palette.empty()) chunk(png, "PLTE", palette);
    if (!transparency.empty()) chunk(png, "tRNS", transparency);
    chunk(png, "IDAT", deflate(scanlines));
    chunk(png, "IEND", {});
    return png;
}

// Rows of `rowBytes` bytes, each with filter `filter` and a pattern.
Bytes rows(size_t count, size_t rowBytes, uint8_t filter) {
    Bytes result;
    for (size_t row = 0; row < count; ++row) {
        result.push_back(filter);
        for (size_t i = 0; i < rowBytes; ++i)
            result.push_back(uint8_t(row * 31 + i * 13));
    }
    return result;
}

// Adam7: the seven passes of a width × height 8-bit RGB picture, each pass's rows filtered
// with `Sub`.
Bytes adam7Rgb(uint32_t width, uint32_t height) {
    const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, y0[7] = {0, 0, 4, 0, 2, 0, 1};
    const int dx[7] = {8, 8, 4, 4, 2, 2, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    Bytes result;
    for (int pass = 0; pass < 7; ++pass) {
        uint32_t passWidth = width > uint32_t(x0[pass]) ? (width - x0[pass] + dx[pass] - 1) / dx[pass] : 0;
        uint32_t passHeight = height > uint32_t(y0[pass]) ? (height - y0[pass] + dy[pass] - 1) / dy[pass] : 0;
        if (passWidth == 0 || passHeight == 0) continue;
        Bytes passRows = rows(passHeight, passWidth * 3, 1);
        result.insert(result.end(), passRows.begin(), passRows.end());
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_still_image_seeds FOLDER\n");
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);

    save("png-grey-1x1.png", stbPng(1, 1, 1));
    save("png-grey-alpha-2x3.png", stbPng(2, 3, 2));
    save("png-rgb-7x5.png", stbPng(7, 5, 3));
    save("png-rgba-16x9.png", stbPng(16, 9, 4));
    save("png-rgb-640x480.png", [] {
        Bytes out, in(640 * 480 * 3, 0x40);
        stbi_write_png_to_func(pictures::appendTo, &out, 640, 480, 3, in.data(), 640 * 3);
        return out;
    }());
    Bytes palette(3 * 256);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = uint8_t(i * 7);
    save("png-palette-trns-5x3.png", handPng(5, 3, 8, 3, false, rows(3, 5, 0), palette, Bytes{0, 128, 255}));
    save("png-grey-1bit-13x2.png", handPng(13, 2, 1, 0, false, rows(2, 2, 0)));
    save("png-grey-4bit-5x3.png", handPng(5, 3, 4, 0, false, rows(3, 3, 2)));
    save("png-rgb-16bit-3x2.png", handPng(3, 2, 16, 2, false, rows(2, 18, 3)));
    save("png-rgba-16bit-2x2.png", handPng(2, 2, 16, 6, false, rows(2, 16, 4)));
    save("png-rgb-adam7-9x10.png", handPng(9, 10, 8, 2, true, adam7Rgb(9, 10)));
    save("png-claims-20000x20000.png", pictures::pngClaiming(20000, 20000));
    save("png-claims-16384x4096.png", pictures::pngClaiming(16384, 4096));
    save("png-cut.png", pictures::cut(stbPng(16, 9, 4), 60));

    save("jpeg-grey-8x8.jpg", stbJpeg(8, 8, 1, 90));
    save("jpeg-rgb-17x13.jpg", stbJpeg(17, 13, 3, 75));
    save("jpeg-rgb-640x480.jpg", [] {
        Bytes out, in(640 * 480 * 3, 0x90);
        stbi_write_jpg_to_func(pictures::appendTo, &out, 640, 480, 3, in.data(), 20);
        return out;
    }());
    save("jpeg-claims-60000x60000.jpg", pictures::jpegClaiming(stbJpeg(8, 8, 3, 50), 60000, 60000));
    save("jpeg-claims-1024x768.jpg", pictures::jpegClaiming(stbJpeg(8, 8, 3, 50), 1024, 768));
    Bytes whole = stbJpeg(17, 13, 3, 75);
    save("jpeg-cut.jpg", pictures::cut(whole, whole.size() * 2 / 3));
    save("not-an-image.png", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0});
    return 0;
}
