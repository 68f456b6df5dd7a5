#pragma once
// Fitting a picture into a camera frame: scaled to fit with its proportions kept
// (averaging over each output pixel's area when shrinking, interpolating when enlarging),
// centred, and the rest black.
#include <cstddef>
#include <cstdint>

struct SourceRect {
    double x, y, width, height; // in source pixels
    friend bool operator==(const SourceRect&, const SourceRect&) = default;
};

// Reads 3 (RGB) or 4 (RGBA) bytes per source pixel from `crop` of the source and writes
// every pixel of the RGBA destination (opaque black around the picture).
void fitInto(const uint8_t* source, int sourceWidth, int sourceHeight, size_t sourceBytesPerRow,
             int sourceChannels, SourceRect crop, uint8_t* destination, int destinationWidth,
             int destinationHeight, size_t destinationBytesPerRow);
