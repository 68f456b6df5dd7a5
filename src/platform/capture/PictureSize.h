#pragma once
// The size of the camera picture, and so of every framebuffer, filter and analysis after
// it: 640 × 480 unless the person running the program asks for another. Both sides even,
// from 160 × 120 to 3840 × 2160.
#include <cstddef>
#include <optional>
#include <string>

struct PictureSize {
    int width = 640, height = 480;
    size_t pixelCount() const { return size_t(width) * size_t(height); }
    friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

inline constexpr PictureSize defaultPictureSize{640, 480};

// How a still picture of other proportions becomes the camera's: whole on black, or
// filling it, centre-cropped.
enum class StillImageFit { whole, fill };
inline constexpr PictureSize smallestPictureSize{160, 120};
inline constexpr PictureSize largestPictureSize{3840, 2160};

// "1280x720" as two whole numbers joined by 'x', whatever their values; nothing otherwise.
std::optional<PictureSize> parseWidthByHeight(const std::string& text);

// "1280x720" as a picture's size; nothing when the text is not two whole numbers joined by
// 'x' or the size is odd or outside the range.
std::optional<PictureSize> parsePictureSize(const std::string& text);

// "1280x720".
std::string describePictureSize(PictureSize size);
