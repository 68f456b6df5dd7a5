#pragma once
// Small bitmaps and frames for the analysis tests.
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/Luminosity.h"
#include "media/CGImage.h"
#include "media/CMSampleBuffer.h"
#include "media/CVPixelBuffer.h"

struct TestBitmap {
    size_t width = 640, height = 480, bytesPerPixel = 4, bytesPerRow = 640 * 4;
    std::vector<uint8_t> bytes;

    TestBitmap(size_t w = 640, size_t h = 480, size_t bpp = 4, size_t rowPadding = 0)
        : width(w), height(h), bytesPerPixel(bpp), bytesPerRow(w * bpp + rowPadding),
          bytes(bytesPerRow * h, 0) {}

    BitmapLayout layout() const { return {width, height, bytesPerPixel, bytesPerRow, bytes.size()}; }
    const uint8_t* pixel(size_t x, size_t y) const { return &bytes[y * bytesPerRow + x * bytesPerPixel]; }
    void fill(uint8_t r, uint8_t g, uint8_t b) {
        for (size_t y = 0; y < height; ++y)
            for (size_t x = 0; x < width; ++x)
                set(x, y, r, g, b);
    }
    void set(size_t x, size_t y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = bytes.data() + y * bytesPerRow + x * bytesPerPixel;
        p[0] = r;
        p[1] = g;
        p[2] = b;
        if (bytesPerPixel > 3)
            p[3] = 255;
    }
    CGImageRef image() const {
        return CGImageCreate(width, height, bytesPerPixel * 8, bytesPerRow,
                             std::make_shared<const std::vector<uint8_t>>(bytes));
    }
    // A camera frame with these pixels (RGBA only).
    CMSampleBufferRef sample(uint64_t frameNumber = 1) const {
        auto buffer = std::make_shared<CVPixelBuffer>(int(width), int(height), bytesPerRow,
                                                      std::make_shared<const std::vector<uint8_t>>(bytes));
        return std::make_shared<const CMSampleBuffer>(
            CMSampleBuffer{buffer, CMTime{int64_t(frameNumber), 30}, frameNumber});
    }
};
