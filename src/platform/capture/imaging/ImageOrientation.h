#pragma once
// A still picture's EXIF orientation. Cameras store the pixels the way the sensor lay when
// the picture was taken, so a phone held upright stores its portrait photo sideways and
// says in the Orientation tag how to turn it; a picture is only seen upright once that is
// applied.
#include <cstddef>
#include <cstdint>
#include <vector>

// EXIF's values: 1 as stored; 2 mirrored left to right; 3 turned half way; 4 mirrored top
// to bottom; 5 transposed; 6 to be turned a quarter clockwise; 7 transverse; 8 to be turned
// a quarter counter-clockwise.
using ImageOrientation = int;

// The orientation an APP1 segment's payload (from "Exif\0\0" on) states: 1 where it states
// none, is damaged or states a value EXIF does not have, so that a bad block never costs
// the picture.
ImageOrientation exifOrientation(const uint8_t* app1, size_t size);

// 5 to 8 stand the picture on its side: the upright width is the stored height.
inline bool swapsSides(ImageOrientation orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Turns and mirrors `rgba` (width × height, tightly packed) upright; width and height
// become the upright ones.
void orientUpright(std::vector<uint8_t>& rgba, int& width, int& height, ImageOrientation orientation);
