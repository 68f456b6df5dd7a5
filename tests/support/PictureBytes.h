#pragma once
// Picture files made in memory for the bad-input tests and the fuzzers' seeds: valid PNGs, JPEGs and BMPs to
// damage, and PNG and JPEG headers that claim sizes a file of a few bytes cannot have.
#pragma GCC system_header // stb_image_write's implementation is not ours to warn about
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

namespace pictures {

using Bytes = std::vector<uint8_t>;

inline void appendTo(void* context, void* data, int size) {
    auto* bytes = static_cast<Bytes*>(context);
    auto* begin = static_cast<uint8_t*>(data);
    bytes->insert(bytes->end(), begin, begin + size);
}

inline Bytes rgb(int width, int height) {
    Bytes pixels(size_t(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 7 + i / 11);
    return pixels;
}

inline Bytes png(int width, int height) {
    Bytes out, pixels = rgb(width, height);
    stbi_write_png_to_func(appendTo, &out, width, height, 3, pixels.data(), width * 3);
    return out;
}

inline Bytes jpeg(int width, int height) {
    Bytes out, pixels = rgb(width, height);
    stbi_write_jpg_to_func(appendTo, &out, width, height, 3, pixels.data(), 80);
    return out;
}

inline Bytes bmp(int width, int height) {
    Bytes out, pixels = rgb(width, height);
    stbi_write_bmp_to_func(appendTo, &out, width, height, 3, pixels.data());
    return out;
}

inline uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = ~0u;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// A valid PNG with its header's size replaced (and the header's checksum made to match,
// so only the size is wrong).
inline Bytes pngClaiming(uint32_t width, uint32_t height) {
    Bytes file = png(4, 4);
    const size_t ihdr = 8 + 8; // signature, then the IHDR chunk's length and type
    for (int i = 0; i < 4; ++i) {
        file[ihdr + i] = uint8_t(width >> (24 - 8 * i));
        file[ihdr + 4 + i] = uint8_t(height >> (24 - 8 * i));
    }
    const uint32_t crc = crc32(file.data() + 12, 4 + 13);
    for (int i = 0; i < 4; ++i)
        file[ihdr + 13 + i] = uint8_t(crc >> (24 - 8 * i));
    return file;
}

// `jpeg` with its frame header (baseline or progressive) saying width × height.
inline Bytes jpegClaiming(Bytes jpeg, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = uint8_t(height >> 8);
            jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8);
            jpeg[i + 8] = uint8_t(width);
            break;
        }
    return jpeg;
}

// A valid JPEG whose frame header says width × height.
inline Bytes jpegClaiming(uint16_t width, uint16_t height) {
    return jpegClaiming(jpeg(8, 8), width, height);
}

inline Bytes cut(Bytes bytes, size_t keep) {
    bytes.resize(keep < bytes.size() ? keep : bytes.size());
    return bytes;
}

inline Bytes text(const std::string& content) {
    return Bytes(content.begin(), content.end());
}

inline std::string save(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

} // namespace pictures
