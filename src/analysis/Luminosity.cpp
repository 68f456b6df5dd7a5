#include "analysis/Luminosity.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// The larger of each lane. Luminosities are never NaN, so the processor's max is exact.
inline luminosity_detail::Float4 laneMax(luminosity_detail::Float4 a, luminosity_detail::Float4 b) {
#if defined(__SSE2__)
    return luminosity_detail::Float4(_mm_max_ps(__m128(a), __m128(b)));
#else
    return a > b ? a : b;
#endif
}
} // namespace

float maxLuminosityOfRows(const uint8_t* bytes, const BitmapLayout& layout, size_t firstRow, size_t endRow) {
    using namespace luminosity_detail;
    float maximum = 0.0f;
    for (size_t row = firstRow; row < endRow; ++row) {
        const uint8_t* rowBytes = bytes + row * layout.bytesPerRow;
        size_t column = 0;
        if (const size_t grouped = layout.vectorColumns(row)) {
            // The maximum does not depend on the order the pixels are compared in, so
            // running maxima per lane are as exact as one.
            Float4 lanesA{}, lanesB{};
            for (; column < grouped; column += 8) {
                Float4 a = luminosity4(rowBytes + column * 4);
                Float4 b = luminosity4(rowBytes + column * 4 + 16);
                lanesA = laneMax(a, lanesA);
                lanesB = laneMax(b, lanesB);
            }
            for (size_t lane = 0; lane < 4; ++lane) {
                if (lanesA[lane] > maximum)
                    maximum = lanesA[lane];
                if (lanesB[lane] > maximum)
                    maximum = lanesB[lane];
            }
        }
        for (; column < layout.width; ++column) {
            float value = pixelLuminosity(rowBytes + column * layout.bytesPerPixel);
            if (value > maximum)
                maximum = value;
        }
    }
    return maximum;
}
