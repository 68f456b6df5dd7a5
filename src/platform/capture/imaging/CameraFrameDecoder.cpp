#include "capture/imaging/CameraFrameDecoder.h"

#include <algorithm>

#include "capture/imaging/JpegDecompressor.h"

namespace {

// The smallest of the scales at which libjpeg-turbo's DCT runs on its SIMD code (1/8, 1/4,
// 1/2 and 1) that still covers the destination. Its other scales (3/8, 5/8, ...) use plain
// C and cost more than decoding whole: 1280 × 720 at 6/8 took a third longer than at 8/8.
unsigned coverDenominator(double width, double height, int destinationWidth, int destinationHeight) {
    const double cover = std::max(double(destinationWidth) / width, double(destinationHeight) / height);
    for (unsigned denominator : {8u, 4u, 2u})
        if (1.0 / denominator >= cover)
            return denominator;
    return 1;
}

uint8_t clampByte(int value) {
    return uint8_t(std::clamp(value, 0, 255));
}

// BT.601, limited range (16-235 luma, 16-240 chroma), in 8-bit fixed point.
void yuyvToRgba(const uint8_t* yuyv, int pixels, uint8_t* rgba) {
    for (int x = 0; x + 1 < pixels; x += 2, yuyv += 4, rgba += 8) {
        const int u = yuyv[1] - 128, v = yuyv[3] - 128;
        const int red = 409 * v + 128, green = -100 * u - 208 * v + 128, blue = 516 * u + 128;
        for (int i = 0; i < 2; ++i) {
            const int luma = 298 * (yuyv[2 * i] - 16);
            rgba[4 * i + 0] = clampByte((luma + red) >> 8);
            rgba[4 * i + 1] = clampByte((luma + green) >> 8);
            rgba[4 * i + 2] = clampByte((luma + blue) >> 8);
            rgba[4 * i + 3] = 255;
        }
    }
}

} // namespace

SourceRect coverCrop(int sourceWidth, int sourceHeight, int destinationWidth, int destinationHeight) {
    if (int64_t(sourceWidth) * destinationHeight > int64_t(sourceHeight) * destinationWidth) {
        const double width = double(sourceHeight) * destinationWidth / destinationHeight;
        return {(sourceWidth - width) / 2, 0, width, double(sourceHeight)};
    }
    const double height = double(sourceWidth) * destinationHeight / destinationWidth;
    return {0, (sourceHeight - height) / 2, double(sourceWidth), height};
}

SourceRect zoomedInto(SourceRect area, double zoom) {
    if (zoom <= 1.0)
        return area;
    const double width = area.width / zoom, height = area.height / zoom;
    return {area.x + (area.width - width) / 2, area.y + (area.height - height) / 2, width, height};
}

CameraFrameDecoder::CameraFrameDecoder() : jpeg_(std::make_unique<JpegDecompressor>()) {}

CameraFrameDecoder::~CameraFrameDecoder() = default;

void CameraFrameDecoder::prepare(const Geometry& geometry) {
    if (geometry == prepared_)
        return;
    resampler_.prepare(geometry.sourceWidth, geometry.sourceHeight, geometry.crop, geometry.destinationWidth,
                       geometry.destinationHeight);
    const size_t rowBytes = size_t(geometry.sourceWidth) * 4;
    decodedRows_.resize(size_t(resampler_.rowTaps()) * rowBytes);
    rowsToBlend_.resize(size_t(resampler_.rowTaps()));
    blended_.resize(rowBytes);
    converted_.resize(rowBytes);
    prepared_ = geometry;
}

bool CameraFrameDecoder::decodeJpegFrame(const uint8_t* jpeg, size_t size, uint8_t* rgba, int width,
                                         int height, size_t bytesPerRow, std::string* reason, double zoom) {
    const unsigned long warningsBefore = jpeg_->toleratedWarnings();
    const bool decoded = decodeJpeg(jpeg, size, rgba, width, height, bytesPerRow, reason, zoom);
    if (decoded && jpeg_->toleratedWarnings() != warningsBefore)
        ++framesWithWarnings_;
    return decoded;
}

bool CameraFrameDecoder::decodeJpeg(const uint8_t* jpeg, size_t size, uint8_t* rgba, int width, int height,
                                    size_t bytesPerRow, std::string* reason, double zoom) {
    jpeg_decompress_struct& info = jpeg_->info();
    auto failed = [&] {
        if (reason)
            *reason = jpeg_->failure();
        return false;
    };
    if (!jpeg_->attempt([&](jpeg_decompress_struct& d) {
            jpeg_mem_src(&d, jpeg, size);
            jpeg_read_header(&d, TRUE);
        }))
        return failed();
    // The part of the picture the frame shows: the cover crop, zoomed. The DCT scales down
    // as far as that part still covers the frame.
    const SourceRect crop =
        zoomedInto(coverCrop(int(info.image_width), int(info.image_height), width, height), zoom);
    info.out_color_space = JCS_EXT_RGBA;
    info.scale_num = 1;
    info.scale_denom = coverDenominator(crop.width, crop.height, width, height);
    if (!jpeg_->attempt([](jpeg_decompress_struct& d) { jpeg_calc_output_dimensions(&d); }))
        return failed();

    if (zoom <= 1.0 && int(info.output_width) == width && int(info.output_height) == height)
        return jpeg_->attempt([&](jpeg_decompress_struct& d) {
            jpeg_start_decompress(&d);
            while (d.output_scanline < d.output_height) {
                JSAMPROW row = rgba + size_t(d.output_scanline) * bytesPerRow;
                jpeg_read_scanlines(&d, &row, 1);
            }
            jpeg_abort_decompress(&d);
        }) || failed();

    // The crop in the decoded picture's pixels: the DCT has already scaled it.
    const double scale = 1.0 / info.scale_denom;
    prepare({int(info.output_width),
             int(info.output_height),
             {crop.x * scale, crop.y * scale, crop.width * scale, crop.height * scale},
             width,
             height});
    return jpeg_->attempt([&](jpeg_decompress_struct& d) {
        jpeg_start_decompress(&d);
        const FrameResampler& resampler = resampler_;
        const int firstColumn = resampler.firstColumn(), endColumn = resampler.endColumn();
        // Only the columns the frame keeps are decoded (widened by libjpeg to whole blocks)...
        JDIMENSION decodedFrom = JDIMENSION(firstColumn),
                   decodedColumns = JDIMENSION(endColumn - firstColumn);
        if (decodedColumns < d.output_width)
            jpeg_crop_scanline(&d, &decodedFrom, &decodedColumns);
        // ...and only its rows, each held until the last destination row that needs it.
        if (resampler.firstRow(0) > 0)
            jpeg_skip_scanlines(&d, JDIMENSION(resampler.firstRow(0)));
        const int taps = resampler.rowTaps();
        const size_t stride = size_t(prepared_.sourceWidth) * 4;
        const size_t keptFrom = size_t(firstColumn - int(decodedFrom)) * 4;
        for (int y = 0; y < height; ++y) {
            const int firstRow = resampler.firstRow(y);
            while (int(d.output_scanline) < firstRow + taps) {
                JSAMPROW row = decodedRows_.data() + size_t(d.output_scanline % unsigned(taps)) * stride;
                jpeg_read_scanlines(&d, &row, 1);
            }
            for (int k = 0; k < taps; ++k)
                rowsToBlend_[size_t(k)] =
                    decodedRows_.data() + size_t((firstRow + k) % taps) * stride + keptFrom;
            resampler.blendRows(y, rowsToBlend_.data(), size_t(endColumn - firstColumn) * 4, blended_.data());
            resampler.resampleRow(blended_.data(), firstColumn, rgba + size_t(y) * bytesPerRow);
        }
        jpeg_abort_decompress(&d);
    }) || failed();
}

void CameraFrameDecoder::convertYuyvFrame(const uint8_t* yuyv, int sourceWidth, int sourceHeight,
                                          size_t sourceBytesPerRow, uint8_t* rgba, int width, int height,
                                          size_t bytesPerRow, double zoom) {
    if (zoom <= 1.0 && sourceWidth == width && sourceHeight == height) {
        for (int y = 0; y < height; ++y)
            yuyvToRgba(yuyv + size_t(y) * sourceBytesPerRow, width, rgba + size_t(y) * bytesPerRow);
        return;
    }
    const int pairedWidth = sourceWidth & ~1; // a pixel without a partner has no colour
    prepare({pairedWidth, sourceHeight, zoomedInto(coverCrop(pairedWidth, sourceHeight, width, height), zoom),
             width, height});
    // The rows are blended as they are stored, then converted: only the columns the frame
    // keeps, and only once per destination row.
    const int from = resampler_.firstColumn() & ~1,
              to = std::min(pairedWidth, (resampler_.endColumn() + 1) & ~1);
    const int taps = resampler_.rowTaps();
    for (int y = 0; y < height; ++y) {
        for (int k = 0; k < taps; ++k)
            rowsToBlend_[size_t(k)] =
                yuyv + size_t(resampler_.firstRow(y) + k) * sourceBytesPerRow + size_t(from) * 2;
        resampler_.blendRows(y, rowsToBlend_.data(), size_t(to - from) * 2, blended_.data());
        yuyvToRgba(blended_.data(), to - from, converted_.data());
        resampler_.resampleRow(converted_.data(), from, rgba + size_t(y) * bytesPerRow);
    }
}
