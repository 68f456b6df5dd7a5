#include "host/screen/PngFile.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace host {
namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

bool fail(NSError* error, const std::string& path, const std::string& why) {
    if (error)
        *error = NSError("FernholdHost", 1, "could not write " + path + ": " + why);
    return false;
}

// libpng reports errors through longjmp; this keeps that inside one function with only
// plain data alive across it.
bool encode(FILE* file, int width, int height, const uint8_t* rgba, std::string& why) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) {
        why = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        why = "the PNG encoder failed";
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3); // snapshots are taken while frames flow: favour speed
    png_write_info(png, info);
    for (int row = 0; row < height; ++row)
        png_write_row(
            png, const_cast<png_bytep>(rgba + static_cast<size_t>(row) * static_cast<size_t>(width) * 4));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
              NSError* error) {
    if (width <= 0 || height <= 0 ||
        rgba.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        return fail(error, path, "no picture to write");
    const std::string temporary = path + ".tmp";
    std::unique_ptr<FILE, FileCloser> file(std::fopen(temporary.c_str(), "wb"));
    if (!file)
        return fail(error, path, std::strerror(errno));
    std::string why;
    bool written = encode(file.get(), width, height, rgba.data(), why);
    if (written && std::fflush(file.get()) != 0) {
        written = false;
        why = std::strerror(errno);
    }
    file.reset();
    if (!written) {
        std::remove(temporary.c_str());
        return fail(error, path, why);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        why = std::strerror(errno);
        std::remove(temporary.c_str());
        return fail(error, path, why);
    }
    return true;
}

} // namespace host
