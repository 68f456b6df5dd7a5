#pragma once
// Resampling a rectangle of a camera picture to the frame, one destination row at a time,
// with weights worked out once per camera mode: as in fitInto, each destination pixel
// averages the source area it covers when shrinking and interpolates linearly when
// enlarging, here in 14-bit fixed point so that a frame costs a few integer multiply-adds
// per byte.
//
// A destination row is made in two steps, so that rows can be fed in as they are decoded:
// blendRows mixes the source rows the destination row needs, byte by byte and so whatever
// the pixel format, then resampleRow narrows a blended RGBA row to the destination's width.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/imaging/FrameScaling.h"

class FrameResampler {
  public:
    // `crop` is in the pixels of a sourceWidth × sourceHeight picture, and is stretched
    // over the whole destination.
    void prepare(int sourceWidth, int sourceHeight, SourceRect crop, int destinationWidth,
                 int destinationHeight);

    int destinationWidth() const { return int(columns_.first.size()); }
    int destinationHeight() const { return int(rows_.first.size()); }
    // Every destination pixel reads source columns within [firstColumn(), endColumn()).
    int firstColumn() const { return columns_.first.front(); }
    int endColumn() const { return columns_.first.back() + columns_.taps; }
    // Destination row y reads source rows [firstRow(y), firstRow(y) + rowTaps()), all
    // within the source; firstRow never decreases as y grows.
    int firstRow(int y) const { return rows_.first[size_t(y)]; }
    int rowTaps() const { return rows_.taps; }

    // rows[k] holds source row firstRow(y) + k; mixes `bytes` bytes of each into `out`.
    void blendRows(int y, const uint8_t* const* rows, size_t bytes, uint8_t* out) const;
    // `rgba` holds a row's pixels from source column `rowStartsAt` (at most firstColumn())
    // on; writes destinationWidth() opaque pixels to `out`.
    void resampleRow(const uint8_t* rgba, int rowStartsAt, uint8_t* out) const;

  private:
    struct Axis {
        int taps = 0;                 // source samples per destination sample
        std::vector<int> first;       // per destination sample, its first source sample
        std::vector<int16_t> weights; // `taps` per destination sample, summing to 1 << 14
    };
    static Axis axis(double start, double length, int size, int count);

    Axis columns_, rows_;
};
