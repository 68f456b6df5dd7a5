#include "analysis/Luminosity.h"

bool BitmapLayout::fits(size_t length) const {
    if (width == 0 || height == 0) return true; // nothing to read
    if (bytesPerPixel < 3) return false;
    // The last pixel of the last row must end inside the data; checked without overflow.
    if (width > (SIZE_MAX - 3) / bytesPerPixel) return false;
    size_t rowSpan = (width - 1) * bytesPerPixel + 3;
    if (height - 1 > (SIZE_MAX - rowSpan) / (bytesPerRow == 0 ? 1 : bytesPerRow)) return false;
    return (height - 1) * bytesPerRow + rowSpan <= length;
}

float maxLuminosityOfRows(const uint8_t* bytes, const BitmapLayout& layout, size_t firstRow, size_t endRow) {
    float maximum = 0.0f;
    const size_t step = layout.bytesPerPixel;
    for (size_t row = firstRow; row < endRow; ++row) {
        const uint8_t* pixel = bytes + row * layout.bytesPerRow;
        for (size_t column = 0; column < layout.width; ++column, pixel += step) {
            float value = pixelLuminosity(pixel);
            if (value > maximum) maximum = value;
        }
    }
    return maximum;
}
