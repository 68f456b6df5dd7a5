#pragma once
// Pixel luminosity and the scans behind the luminosity meter and the bright-region
// search: plain functions over a bitmap's bytes, shared by the analysis, the benchmarks
// and the fuzzers.
//
// The scans of four-byte pixels work on eight pixels at a time with the compiler's
// vector extensions. Each lane computes exactly what pixelLuminosity() computes (the same
// single-precision products and sums, in the same order), so the results are identical
// to the one-pixel-at-a-time reading, only faster.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

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
    // How many bytes may be read from the start of the data. The four-pixel reads take
    // a pixel's fourth byte too, which a tightly cut last pixel may not have, so they are
    // used only where these bytes reach; 0 leaves every pixel to the one-at-a-time path.
    size_t readableBytes = 0;
    // Whether every pixel of every row lies inside `length` bytes and has R, G and B.
    bool fits(size_t length) const;
    // The columns of `row` that the four-pixel reads may cover, in groups of eight.
    size_t vectorColumns(size_t row) const {
        if (bytesPerPixel != 4 || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
            return 0;
        size_t offset = row * bytesPerRow;
        if (offset >= readableBytes)
            return 0;
        size_t whole = (readableBytes - offset) / 4;
        return (whole < width ? whole : width) / 8 * 8;
    }
};

// A scan marked so is built twice on x86-64, for the baseline and for AVX2, and the
// loader picks the one the processor runs (GCC's function multi-versioning). Sanitizer
// builds take the baseline alone: the loader runs the picking code before the sanitizer's
// runtime is ready, which crashes the thread sanitizer at start-up.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__has_attribute) &&           \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#if __has_attribute(target_clones)
#define FERNHOLD_WIDEST_VECTORS __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef FERNHOLD_WIDEST_VECTORS
#define FERNHOLD_WIDEST_VECTORS
#endif

// The largest luminosity of rows [firstRow, endRow), 0.0 when there is none.
float maxLuminosityOfRows(const uint8_t* bytes, const BitmapLayout& layout, size_t firstRow, size_t endRow);

namespace luminosity_detail {
// Eight pixels at a time: two SSE registers on a baseline x86-64 or arm64 build, one AVX2
// register where the processor has it (a scan marked FERNHOLD_WIDEST_VECTORS carries both
// and picks one at load time).
typedef int32_t Int8 __attribute__((vector_size(32)));
typedef float Float8 __attribute__((vector_size(32)));

// The luminosities of eight consecutive four-byte pixels, returned through a reference: a
// vector returned by value would travel differently in each build of a scan.
__attribute__((always_inline)) inline void luminosity8(const uint8_t* pixels, Float8& value) {
    Int8 words;
    std::memcpy(&words, pixels, sizeof words); // little-endian: red is the low byte
    Float8 r = __builtin_convertvector(words & 0xff, Float8);
    Float8 g = __builtin_convertvector((words >> 8) & 0xff, Float8);
    Float8 b = __builtin_convertvector((words >> 16) & 0xff, Float8);
    Float8 sum = r * 0.2125f + g * 0.7154f;
    value = sum + b * 0.0721f;
}
} // namespace luminosity_detail

// A run of bright pixels in a row, columns first to last.
struct BrightRun {
    size_t row, first, last;
};

// Appends every run of pixels whose luminosity is strictly greater than `threshold`, row
// by row, left to right. A group of eight pixels that leaves the run as it was (all bright
// inside one, all dark outside) costs one comparison, so a large bright area makes one run
// a row, not a call a pixel.
void findBrightRuns(const uint8_t* bytes, const BitmapLayout& layout, float threshold,
                    std::vector<BrightRun>& runs);
