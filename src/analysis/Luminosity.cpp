#include "analysis/Luminosity.h"

bool BitmapLayout::fits(size_t length) const {
    if (width == 0 || height == 0)
        return true; // nothing to read
    if (bytesPerPixel < 3)
        return false;
    // The last pixel of the last row must end inside the data; checked without overflow.
    if (width > (SIZE_MAX - 3) / bytesPerPixel)
        return false;
    size_t rowSpan = (width - 1) * bytesPerPixel + 3;
    if (height - 1 > (SIZE_MAX - rowSpan) / (bytesPerRow == 0 ? 1 : bytesPerRow))
        return false;
    return (height - 1) * bytesPerRow + rowSpan <= length;
}

namespace {
// Eight pixels at a time: two SSE registers on a baseline x86-64 or arm64 build, one AVX2
// register where the processor has it (the x86-64 build carries both and picks one at
// load time). Each lane still computes exactly pixelLuminosity().
typedef int32_t Int8 __attribute__((vector_size(32)));
typedef float Float8 __attribute__((vector_size(32)));

// The luminosities of eight consecutive four-byte pixels, returned through a reference: a
// vector returned by value would travel differently in each build of a scan.
__attribute__((always_inline)) inline void luminosity8(const uint8_t* pixels, Float8& value) {
    Int8 words;
    std::memcpy(&words, pixels, sizeof words); // red is the low byte
    Float8 r = __builtin_convertvector(words & 0xff, Float8);
    Float8 g = __builtin_convertvector((words >> 8) & 0xff, Float8);
    Float8 b = __builtin_convertvector((words >> 16) & 0xff, Float8);
    Float8 sum = r * 0.2125f + g * 0.7154f;
    value = sum + b * 0.0721f;
}

} // namespace

FERNHOLD_WIDEST_VECTORS
float maxLuminosityOfRows(const uint8_t* bytes, const BitmapLayout& layout, size_t firstRow, size_t endRow) {
    float maximum = 0.0f;
    for (size_t row = firstRow; row < endRow; ++row) {
        const uint8_t* rowBytes = bytes + row * layout.bytesPerRow;
        size_t column = 0;
        if (const size_t grouped = layout.vectorColumns(row)) {
            // The maximum does not depend on the order the pixels are compared in, so
            // running maxima per lane are as exact as one. Luminosities are never NaN,
            // so the comparison is the processor's max instruction.
            Float8 lanes{};
            for (; column < grouped; column += 8) {
                Float8 value;
                luminosity8(rowBytes + column * 4, value);
                lanes = value > lanes ? value : lanes;
            }
            for (size_t lane = 0; lane < 8; ++lane)
                if (lanes[lane] > maximum)
                    maximum = lanes[lane];
        }
        for (; column < layout.width; ++column) {
            float value = pixelLuminosity(rowBytes + column * layout.bytesPerPixel);
            if (value > maximum)
                maximum = value;
        }
    }
    return maximum;
}

FERNHOLD_WIDEST_VECTORS
void findBrightRuns(const uint8_t* bytes, const BitmapLayout& layout, float threshold,
                    std::vector<BrightRun>& runs) {
    for (size_t row = 0; row < layout.height; ++row) {
        const uint8_t* rowBytes = bytes + row * layout.bytesPerRow;
        size_t column = 0, first = 0;
        bool inRun = false;
        auto pixel = [&](size_t at, bool bright) {
            if (bright && !inRun)
                first = at, inRun = true;
            else if (!bright && inRun)
                runs.push_back({row, first, at - 1}), inRun = false;
        };
        if (const size_t grouped = layout.vectorColumns(row)) {
            for (; column < grouped; column += 8) {
                Float8 value;
                luminosity8(rowBytes + column * 4, value);
                const Int8 bright = value > threshold;
                const Int8 change = inRun ? ~bright : bright, none{};
                if (std::memcmp(&change, &none, sizeof none) == 0)
                    continue;
                for (size_t lane = 0; lane < 8; ++lane)
                    pixel(column + lane, bright[lane] != 0);
            }
        }
        for (; column < layout.width; ++column)
            pixel(column, pixelLuminosity(rowBytes + column * layout.bytesPerPixel) > threshold);
        if (inRun)
            runs.push_back({row, first, layout.width - 1});
    }
}
