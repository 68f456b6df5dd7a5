#include "capture/imaging/StillImageDecoder.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "capture/imaging/ImageOrientation.h"
#include "capture/imaging/JpegDecompressor.h"

namespace {

bool withinLimits(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= maximumStillImageSide && height <= maximumStillImageSide &&
           width * height <= maximumStillImagePixels;
}

std::nullopt_t refuse(StillImageRefusal* refusal, StillImageRefusal::Kind kind, std::string reason = {},
                      int64_t width = 0, int64_t height = 0) {
    if (refusal)
        *refusal = StillImageRefusal{kind, width, height, std::move(reason)};
    return std::nullopt;
}

// ---- PNG -------------------------------------------------------------------------------

struct PngInput {
    const uint8_t* bytes;
    size_t size;
    size_t position = 0;
    char failure[200] = "";
};

void readPngBytes(png_structp png, png_bytep out, size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (length > input->size - input->position)
        png_error(png, stillImageEndsEarly.c_str());
    std::memcpy(out, input->bytes + input->position, length);
    input->position += length;
}

[[noreturn]] void stopPng(png_structp png, png_const_charp message) {
    auto* input = static_cast<PngInput*>(png_get_error_ptr(png));
    std::snprintf(input->failure, sizeof input->failure, "%s", message);
    png_longjmp(png, 1);
}

// Warnings are about ancillary chunks (colour profiles, text) that we do not use.
void ignorePngWarning(png_structp, png_const_charp) {}

// libpng reports a failure by jumping back to the last setjmp, so each step that can fail
// sets its own, and owns nothing that needs a destructor.
bool readPngHeader(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    return true;
}

bool readPngPixels(png_structp png, png_infop info, png_bytep* rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_expand(png); // palette to RGB, grey below 8 bits to 8, transparency to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(png_get_image_width(png, info)) * 4)
        png_error(png, "unexpected pixel layout");
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void compositeOverBlack(std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const unsigned alpha = rgba[i + 3];
        if (alpha == 255)
            continue;
        for (size_t c = 0; c < 3; ++c)
            rgba[i + c] = uint8_t((rgba[i + c] * alpha + 127) / 255);
        rgba[i + 3] = 255;
    }
}

std::optional<DecodedStillImage> decodePng(const uint8_t* bytes, size_t size, StillImageRefusal* refusal) {
    PngInput input{bytes, size};
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &input, stopPng, ignorePngWarning);
    if (reader.png)
        reader.info = png_create_info_struct(reader.png);
    if (!reader.info)
        return refuse(refusal, StillImageRefusal::damaged, "out of memory");
    png_set_read_fn(reader.png, &input, readPngBytes);
    // Our own limits are checked below, with the size in the refusal.
    png_set_user_limits(reader.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);

    const bool headerRead = readPngHeader(reader.png, reader.info);
    // libpng keeps the header's size once it has checked it; a file that never got as far
    // as stating a size is not a picture.
    const int64_t width = png_get_image_width(reader.png, reader.info);
    const int64_t height = png_get_image_height(reader.png, reader.info);
    if (width == 0 || height == 0)
        return refuse(refusal, StillImageRefusal::notAnImage);
    if (!withinLimits(width, height))
        return refuse(refusal, StillImageRefusal::tooLarge, {}, width, height);
    if (!headerRead)
        return refuse(refusal, StillImageRefusal::damaged, input.failure);

    DecodedStillImage image{int(width), int(height), int(width), int(height),
                            std::vector<uint8_t>(size_t(width * height) * 4)};
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = image.rgba.data() + y * size_t(width) * 4;
    if (!readPngPixels(reader.png, reader.info, rows.data()))
        return refuse(refusal, StillImageRefusal::damaged, input.failure);
    compositeOverBlack(image.rgba);
    return image;
}

// ---- JPEG ------------------------------------------------------------------------------

// The smallest of the scales libjpeg-turbo's DCT gives (1/8, 1/4, 1/2, 1) at which the
// picture is still no smaller than it will be shown.
unsigned scaleDenominator(int64_t width, int64_t height, int fitWidth, int fitHeight, bool cover) {
    const double across = double(fitWidth) / double(width), down = double(fitHeight) / double(height);
    const double shown = cover ? std::max(across, down) : std::min(across, down);
    for (unsigned denominator : {8u, 4u, 2u})
        if (1.0 / denominator >= shown)
            return denominator;
    return 1;
}

void cmykToRgba(std::vector<uint8_t>& pixels, bool inverted) {
    for (size_t i = 0; i < pixels.size(); i += 4) {
        unsigned keep[4]; // how much light each ink lets through
        for (size_t c = 0; c < 4; ++c)
            keep[c] = inverted ? pixels[i + c] : 255u - pixels[i + c];
        for (size_t c = 0; c < 3; ++c)
            pixels[i + c] = uint8_t((keep[c] * keep[3] + 127) / 255);
        pixels[i + 3] = 255;
    }
}

// The orientation the first Exif APP1 segment states (XMP comes in APP1 segments too).
ImageOrientation jpegOrientation(const jpeg_decompress_struct& info) {
    for (const jpeg_marker_struct* marker = info.marker_list; marker; marker = marker->next)
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= 6 &&
            std::memcmp(marker->data, "Exif\0\0", 6) == 0)
            return exifOrientation(marker->data, marker->data_length);
    return 1;
}

std::optional<DecodedStillImage> decodeJpeg(const uint8_t* bytes, size_t size, int fitWidth, int fitHeight,
                                            bool cover, StillImageRefusal* refusal) {
    JpegDecompressor jpeg;
    jpeg_decompress_struct& info = jpeg.info();
    auto damaged = [&] {
        return refuse(refusal, StillImageRefusal::damaged,
                      jpeg.endedEarly() ? stillImageEndsEarly : jpeg.failure());
    };
    const bool headerRead = jpeg.attempt([&](jpeg_decompress_struct& d) {
        jpeg_mem_src(&d, bytes, size);
        jpeg_save_markers(&d, JPEG_APP0 + 1, 0xFFFF);
        jpeg_read_header(&d, TRUE);
    });
    // The frame header's size stays known when what follows fails (libjpeg itself refuses
    // sides over 65500), and is refused for what it is.
    const int64_t width = info.image_width, height = info.image_height;
    if (width > 0 && height > 0 && !withinLimits(width, height))
        return refuse(refusal, StillImageRefusal::tooLarge, {}, width, height);
    if (!headerRead)
        return damaged();

    // The picture is shown upright, so that is the size it is fitted at.
    const ImageOrientation orientation = jpegOrientation(info);
    const bool sideways = swapsSides(orientation);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    info.scale_num = 1;
    info.scale_denom = sideways ? scaleDenominator(height, width, fitWidth, fitHeight, cover)
                                : scaleDenominator(width, height, fitWidth, fitHeight, cover);
    if (!jpeg.attempt([](jpeg_decompress_struct& d) { jpeg_calc_output_dimensions(&d); }))
        return damaged();
    DecodedStillImage image{int(width), int(height), int(info.output_width), int(info.output_height),
                            std::vector<uint8_t>(size_t(info.output_width) * info.output_height * 4)};
    uint8_t* const pixels = image.rgba.data();
    const bool decoded = jpeg.attempt([pixels](jpeg_decompress_struct& d) {
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = pixels + size_t(d.output_scanline) * d.output_width * 4;
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
    });
    if (!decoded)
        return damaged();
    if (cmyk)
        cmykToRgba(image.rgba, info.saw_Adobe_marker);
    orientUpright(image.rgba, image.width, image.height, orientation);
    return image;
}

bool startsWith(const uint8_t* bytes, size_t size, std::initializer_list<uint8_t> start) {
    return size >= start.size() && std::equal(start.begin(), start.end(), bytes);
}

} // namespace

std::optional<DecodedStillImage> decodeStillImage(const uint8_t* bytes, size_t size, int fitWidth,
                                                  int fitHeight, StillImageRefusal* refusal, bool cover) {
    if (startsWith(bytes, size, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}))
        return decodePng(bytes, size, refusal);
    // Any marker may follow fill bytes, and some writers put them before the first one too;
    // libjpeg expects the start-of-image marker at the very start.
    size_t start = 0;
    while (start + 2 < size && bytes[start] == 0xFF && bytes[start + 1] == 0xFF)
        ++start;
    if (startsWith(bytes + start, size - start, {0xFF, 0xD8}))
        return decodeJpeg(bytes + start, size - start, fitWidth, fitHeight, cover, refusal);
    return refuse(refusal, StillImageRefusal::notAnImage);
}
