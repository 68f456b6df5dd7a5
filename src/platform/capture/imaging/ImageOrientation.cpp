#include "capture/imaging/ImageOrientation.h"

#include <libexif/exif-data.h>

#include <cstring>
#include <memory>
#include <utility>

ImageOrientation exifOrientation(const uint8_t* app1, size_t size) {
    // libexif takes any length, but an APP1 segment holds at most 65533 bytes.
    if (size < 6 || size > 0xFFFF || std::memcmp(app1, "Exif\0\0", 6) != 0)
        return 1;
    const std::unique_ptr<ExifData, void (*)(ExifData*)> data(exif_data_new(), exif_data_unref);
    if (!data)
        return 1;
    exif_data_load_data(data.get(), app1, unsigned(size));
    const ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components != 1 || !entry->data ||
        entry->size < 2)
        return 1;
    const int value = exif_get_short(entry->data, exif_data_get_byte_order(data.get()));
    return value >= 1 && value <= 8 ? value : 1;
}

void orientUpright(std::vector<uint8_t>& rgba, int& width, int& height, ImageOrientation orientation) {
    if (orientation < 2 || orientation > 8)
        return;
    // For orientations 2 to 8, walking the upright picture row by row, where in the stored one
    // each pixel comes from: the first pixel's index, then how far one step along a row and one
    // row down move.
    const ptrdiff_t w = width, h = height, last = w * h - 1;
    struct Walk {
        ptrdiff_t start, across, down;
    };
    const Walk walks[] = {{w - 1, -1, w},       {last, -1, -w}, {(h - 1) * w, 1, -w}, {0, w, 1},
                          {(h - 1) * w, -w, 1}, {last, -w, -1}, {w - 1, w, -1}};
    const Walk walk = walks[orientation - 2];
    const ptrdiff_t across = swapsSides(orientation) ? h : w, down = swapsSides(orientation) ? w : h;
    std::vector<uint8_t> upright(rgba.size());
    uint8_t* out = upright.data();
    for (ptrdiff_t y = 0; y < down; ++y)
        for (ptrdiff_t x = 0, from = walk.start + y * walk.down; x < across;
             ++x, from += walk.across, out += 4)
            std::memcpy(out, &rgba[size_t(from) * 4], 4);
    rgba = std::move(upright);
    if (swapsSides(orientation))
        std::swap(width, height);
}
