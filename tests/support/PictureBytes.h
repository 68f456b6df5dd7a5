#pragma once
// Picture files made in memory, with libpng and libjpeg's own encoders, for the decoder and
// bad-input tests and the fuzzers' seeds: PNGs and JPEGs of every form the decoders take,
// BMPs, PNG and JPEG headers that claim sizes a file of a few bytes cannot have, and EXIF
// orientation blocks.
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace pictures {

using Bytes = std::vector<uint8_t>;

// `samples` holds the rows of width × channels samples: a byte each below 16 bits (libpng
// packs them to `depth`), two big-endian bytes each at 16.
struct PngForm {
    int colourType = PNG_COLOR_TYPE_RGB, depth = 8;
    bool interlaced = false;
    Bytes palette, transparency; // RGB triples; alpha per palette entry
};

inline Bytes encodePng(int width, int height, const Bytes& samples, const PngForm& form = {}) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    auto append = [](png_structp p, png_bytep data, size_t size) {
        auto* bytes = static_cast<Bytes*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + size);
    };
    png_set_write_fn(png, &out, append, nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), form.depth, form.colourType,
                 form.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!form.palette.empty())
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(form.palette.data()),
                     int(form.palette.size() / 3));
    if (!form.transparency.empty())
        png_set_tRNS(png, info, form.transparency.data(), int(form.transparency.size()), nullptr);
    png_write_info(png, info);
    png_set_packing(png);
    std::vector<png_bytep> rows;
    const size_t rowBytes = samples.size() / size_t(height);
    for (int y = 0; y < height; ++y)
        rows.push_back(const_cast<png_bytep>(samples.data()) + size_t(y) * rowBytes);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// `samples` are width × components bytes per row in `input`'s layout; `stored` is the
// colour space written (libjpeg's default for the input when JCS_UNKNOWN).
struct JpegForm {
    J_COLOR_SPACE input = JCS_RGB, stored = JCS_UNKNOWN;
    int components = 3, quality = 85;
    bool progressive = false, adobeMarker = true;
    bool huffmanTables = true;    // without them, as many webcams send MJPEG: the standard ones are implied
    unsigned restartInterval = 0; // MCU rows between restart markers; 0 for none
};

inline Bytes encodeJpeg(int width, int height, const Bytes& samples, const JpegForm& form = {}) {
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = form.components;
    c.in_color_space = form.input;
    jpeg_set_defaults(&c);
    if (form.stored != JCS_UNKNOWN)
        jpeg_set_colorspace(&c, form.stored);
    c.write_Adobe_marker = c.write_Adobe_marker && form.adobeMarker;
    jpeg_set_quality(&c, form.quality, TRUE);
    if (form.progressive)
        jpeg_simple_progression(&c);
    c.restart_in_rows = int(form.restartInterval);
    for (int i = 0; i < NUM_HUFF_TBLS && !form.huffmanTables; ++i)
        for (JHUFF_TBL* table : {c.dc_huff_tbl_ptrs[i], c.ac_huff_tbl_ptrs[i]})
            if (table)
                table->sent_table = TRUE;
    jpeg_start_compress(&c, form.huffmanTables);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(samples.data()) + size_t(c.next_scanline) * size_t(width * form.components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// `jpeg` with 32 zero bytes before each restart marker, as some webcams pad them: libjpeg
// warns of the extraneous bytes, and the picture is whole.
inline Bytes padRestartMarkers(const Bytes& jpeg) {
    Bytes padded;
    for (size_t i = 0; i < jpeg.size(); ++i) {
        // In entropy data a 0xFF is always stuffed (FF 00), so FF D0..D7 is a restart marker.
        if (jpeg[i] == 0xff && i + 1 < jpeg.size() && jpeg[i + 1] >= 0xd0 && jpeg[i + 1] <= 0xd7)
            padded.insert(padded.end(), 32, 0x00);
        padded.push_back(jpeg[i]);
    }
    return padded;
}

inline Bytes rgb(int width, int height) {
    Bytes pixels(size_t(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 7 + i / 11);
    return pixels;
}

inline Bytes png(int width, int height) {
    return encodePng(width, height, rgb(width, height));
}

inline Bytes jpeg(int width, int height) {
    return encodeJpeg(width, height, rgb(width, height), {.quality = 80});
}

// A BMP's signature and header space: another kind of picture, by its first bytes.
inline Bytes bmp() {
    Bytes out(54, 0);
    out[0] = 'B', out[1] = 'M';
    return out;
}

// A valid PNG with its header's size replaced (and the header's checksum made to match,
// so only the size is wrong).
inline Bytes pngClaiming(uint32_t width, uint32_t height) {
    Bytes file = png(4, 4);
    const size_t ihdr = 8 + 8; // signature, then the IHDR chunk's length and type
    for (int i = 0; i < 4; ++i) {
        file[ihdr + i] = uint8_t(width >> (24 - 8 * i));
        file[ihdr + 4 + i] = uint8_t(height >> (24 - 8 * i));
    }
    const uint32_t crc = uint32_t(::crc32(0, file.data() + 12, 4 + 13));
    for (int i = 0; i < 4; ++i)
        file[ihdr + 13 + i] = uint8_t(crc >> (24 - 8 * i));
    return file;
}

// `jpeg` with its frame header (baseline or progressive) saying width × height.
inline Bytes jpegClaiming(Bytes jpeg, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = uint8_t(height >> 8);
            jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8);
            jpeg[i + 8] = uint8_t(width);
            break;
        }
    return jpeg;
}

// A valid JPEG whose frame header says width × height.
inline Bytes jpegClaiming(uint16_t width, uint16_t height) {
    return jpegClaiming(jpeg(8, 8), width, height);
}

// The TIFF block of an Exif segment whose first IFD holds only the Orientation tag, in
// Intel ("II") or Motorola ("MM") byte order.
inline Bytes exifOrientation(int orientation, bool bigEndian = false) {
    Bytes tiff(2, bigEndian ? 'M' : 'I');
    auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.push_back(uint8_t(value >> 8 * (bigEndian ? bytes - 1 - i : i)));
    };
    put(42, 2), put(8, 4);                               // the IFD right after the header
    put(1, 2), put(0x0112, 2), put(3, 2), put(1, 4);     // one entry: Orientation, one SHORT
    put(uint32_t(orientation), 2), put(0, 2), put(0, 4); // its value, padded; no next IFD
    return tiff;
}

// `jpeg` with an APP1 Exif segment holding `tiff` first, where cameras put it.
inline Bytes withExif(const Bytes& jpeg, const Bytes& tiff) {
    const size_t length = 2 + 6 + tiff.size();
    Bytes out{0xFF, 0xD8, 0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length), 'E', 'x', 'i', 'f', 0, 0};
    out.insert(out.end(), tiff.begin(), tiff.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

inline Bytes cut(Bytes bytes, size_t keep) {
    bytes.resize(keep < bytes.size() ? keep : bytes.size());
    return bytes;
}

inline Bytes text(const std::string& content) {
    return Bytes(content.begin(), content.end());
}

inline std::string save(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

} // namespace pictures
