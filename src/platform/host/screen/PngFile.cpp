#include "host/screen/PngFile.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace host {
namespace {

bool fail(NSError* error, const std::string& path, const std::string& why) {
    if (error)
        *error = NSError("FernholdHost", 1, "could not write " + path + ": " + why);
    return false;
}

// The file's descriptor, and what a write failed with, for the one line that reports it:
// the system's reason ("No space left on device"), not the encoder's.
struct Output {
    int descriptor;
    int writeError = 0;
};

// Straight to the descriptor: libpng's writes are its compressed chunks, a few kilobytes.
void writeBytes(png_structp png, png_bytep data, size_t size) {
    auto* output = static_cast<Output*>(png_get_io_ptr(png));
    while (size > 0) {
        const ssize_t written = ::write(output->descriptor, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            output->writeError = written < 0 ? errno : EIO;
            png_error(png, "write failed");
        }
        data += written;
        size -= size_t(written);
    }
}

void flushBytes(png_structp) {}

// libpng's own reporting prints to standard error; the caller says what went wrong instead.
[[noreturn]] void quietError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void quietWarning(png_structp, png_const_charp) {}

// libpng reports errors through longjmp; this keeps that inside one function with only
// plain data alive across it.
bool encode(int descriptor, int width, int height, const uint8_t* rgba, std::string& why) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    if (!png) {
        why = "out of memory";
        return false;
    }
    Output output{descriptor};
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        why = output.writeError ? std::strerror(output.writeError) : "the PNG encoder failed";
        return false;
    }
    png_set_write_fn(png, &output, writeBytes, flushBytes);
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
    if (output.writeError)
        why = std::strerror(output.writeError);
    return output.writeError == 0;
}

} // namespace

bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
              NSError* error) {
    if (width <= 0 || height <= 0 ||
        rgba.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        return fail(error, path, "no picture to write");
    const std::string temporary = path + ".tmp";
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return fail(error, path, std::strerror(errno));
    std::string why;
    bool written = encode(descriptor, width, height, rgba.data(), why);
    if (::close(descriptor) != 0 && written) {
        written = false;
        why = std::strerror(errno);
    }
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
