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

using luminosity_detail::Float8;
using luminosity_detail::Int8;
using luminosity_detail::luminosity8;

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
