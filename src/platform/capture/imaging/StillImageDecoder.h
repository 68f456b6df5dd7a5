#pragma once
// Still pictures from a file's bytes: PNG through libpng, JPEG through libjpeg-turbo's
// libjpeg API (JpegDecompressor.h says why that API). What comes out is opaque RGBA, 8 bits
// per channel, red first, whatever the file held:
// - PNG: grey, grey with alpha, palette (with or without transparency), RGB and RGBA, at
//   any bit depth, interlaced or not; 16-bit samples are rounded to 8. Transparency is
//   composited over black, as the camera frame it becomes has no use for alpha.
// - JPEG: baseline, progressive or arithmetic-coded; grey, YCbCr, RGB, CMYK and YCCK. CMYK
//   is stored inverted where an Adobe marker is present (as Photoshop writes it) and plain
//   otherwise. Shown upright as its EXIF orientation says (ImageOrientation.h).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The largest picture accepted, checked from the header before any pixels are decoded: a
// file cannot make us allocate gigabytes by claiming a huge size.
inline constexpr int maximumStillImageSide = 16384;
inline constexpr int64_t maximumStillImagePixels = 64LL * 1024 * 1024;

struct DecodedStillImage {
    int fileWidth = 0, fileHeight = 0; // as the file states, before any EXIF orientation
    int width = 0, height = 0;         // upright, as decoded (see decodeStillImage)
    std::vector<uint8_t> rgba;         // width × height, tightly packed
};

struct StillImageRefusal {
    enum Kind { notAnImage, tooLarge, damaged } kind = notAnImage;
    int64_t claimedWidth = 0, claimedHeight = 0; // tooLarge: the size the header states
    std::string reason;                          // damaged: what is wrong, one line
};

// Why a damaged picture was refused when its data stops short.
inline const std::string stillImageEndsEarly = "the file ends early";

// Decodes a PNG or JPEG. A JPEG larger than fitWidth × fitHeight may be decoded at 1/2,
// 1/4 or 1/8 of its size (its DCT does that almost for free), never smaller than it will
// be shown upright when fitted into that size (or, with `cover`, when filling it). nullopt
// with `refusal` when the bytes are not a PNG or JPEG, state a size beyond the limits or
// are damaged.
std::optional<DecodedStillImage> decodeStillImage(const uint8_t* bytes, size_t size, int fitWidth,
                                                  int fitHeight, StillImageRefusal* refusal,
                                                  bool cover = false);
