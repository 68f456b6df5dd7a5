#pragma once
// Pixel luminosity and the band scan behind the luminosity meter: plain functions over a
// bitmap's bytes, shared by the frame analysis, the bright-region search, the benchmarks
// and the fuzzers.
#include <cstddef>
#include <cstdint>

// 0.2125 R + 0.7154 G + 0.0721 B in single precision, the R and G terms added first.
inline float pixelLuminosity(const uint8_t* pixel) {
    float r = 0.2125f * float(pixel[0]);
    float g = 0.7154f * float(pixel[1]);
    float b = 0.0721f * float(pixel[2]);
    return (r + g) + b;
}

// The geometry of a bitmap as the scans read it. A pixel needs at least three bytes.
struct BitmapLayout {
    size_t width = 0, height = 0, bytesPerPixel = 0, bytesPerRow = 0;
    // Whether every pixel of every row lies inside `length` bytes and has R, G and B.
    bool fits(size_t length) const;
};

// The largest luminosity of rows [firstRow, endRow), scanning each row left to right.
// Only a strictly greater value replaces the maximum.
float maxLuminosityOfRows(const uint8_t* bytes, const BitmapLayout& layout, size_t firstRow, size_t endRow);
