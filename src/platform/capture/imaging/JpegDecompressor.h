#pragma once
// libjpeg-turbo's decompressor set up for pictures that come from outside: a failure ends
// the decode with a one-line reason instead of ending the process, corrupt data counts as
// a failure instead of a warning printed on standard error, and pictures that would take
// unreasonable memory or time are refused. One object decodes picture after picture
// (camera frames); it is confined to one thread.
//
// Through libjpeg's own API (jpeglib.h) rather than TurboJPEG: the camera needs DCT scaling
// together with decoding only the columns (jpeg_crop_scanline) and rows
// (jpeg_skip_scanlines) that its frame keeps, row by row into its own buffers; every
// decode needs a memory cap, a limit on progressive scans (through the progress monitor),
// a choice of which warnings mean damage (padding before a restart marker does not), and the Adobe marker
// that says how CMYK is stored. TurboJPEG 2.1 offers only the scaling, and would still report corrupt data
// only as a warning.
#include <csetjmp>
#include <cstddef>
#include <cstdio> // jpeglib.h uses FILE and size_t without including their headers

#include <jpeglib.h>

class JpegDecompressor {
  public:
    // More than a progressive picture within the still-image limits needs (2 bytes per
    // DCT coefficient, 4 components, 64 megapixels), far less than a forged header could
    // ask for.
    static constexpr long memoryLimit = 640L * 1024 * 1024;
    // Encoders write about 10 scans; a file with hundreds makes every scan a full pass
    // over the picture for a few bytes of data each.
    static constexpr int maximumScans = 100;

    JpegDecompressor();
    ~JpegDecompressor();
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;

    jpeg_decompress_struct& info() { return info_; }

    // Runs `steps(info())`, a sequence of libjpeg calls. False when libjpeg failed on the
    // way: failure() then says why and the decompressor is ready for the next picture.
    // libjpeg reports a failure by jumping out of its own code (its error handler must not
    // return), so nothing made inside `steps` may need its destructor run.
    template <class Steps> bool attempt(Steps&& steps) {
        errors_.message[0] = '\0';
        errors_.endedEarly = false;
        if (setjmp(errors_.jump) != 0) {
            jpeg_abort_decompress(&info_);
            return false;
        }
        steps(info_);
        return true;
    }

    // Why the last attempt failed, one line.
    const char* failure() const { return errors_.message; }
    // Whether it failed because the data ended before the picture did.
    bool endedEarly() const { return errors_.endedEarly; }
    // How many warnings that leave the picture whole (padding before a restart marker) all
    // decodes so far have met.
    unsigned long toleratedWarnings() const { return errors_.tolerated; }

  private:
    struct Errors : jpeg_error_mgr {
        std::jmp_buf jump;
        char message[JMSG_LENGTH_MAX];
        bool endedEarly;
        unsigned long tolerated;
    };
    [[noreturn]] static void stop(j_common_ptr common);
    static void warn(j_common_ptr common, int level);
    static void checkScans(j_common_ptr common);

    Errors errors_{};
    jpeg_progress_mgr progress_{};
    jpeg_decompress_struct info_{};
};
