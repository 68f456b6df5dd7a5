// Webcam frames from arbitrary bytes: a camera (or whatever claims to be one) hands us
// MJPEG frames of any geometry and sampling, and YUYV frames of whatever mode it reports.
// No frame may crash the decoder or make it read or write out of bounds; a refused MJPEG
// frame comes with a one-line reason; the decoder, kept from input to input as it is kept
// from frame to frame, goes on working after any of them.
//
// The input is an MJPEG frame. Its first four bytes also give a YUYV mode (an even width
// up to 2048 and a height up to 2048) for the bytes after them, when there are enough.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/imaging/CameraFrameDecoder.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_camera_frame: %s\n", what);
    std::abort();
}

// The frame's proportions at a quarter of its size: the same code paths as 640 × 480 at a
// sixteenth of the resampling work per input.
constexpr int frameWidth = 160, frameHeight = 120;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CameraFrameDecoder decoder;
    static std::vector<uint8_t> frame(size_t(frameWidth) * frameHeight * 4);

    std::string reason;
    if (!decoder.decodeJpegFrame(data, size, frame.data(), frameWidth, frameHeight, size_t(frameWidth) * 4,
                                 &reason) &&
        (reason.empty() || reason.find('\n') != std::string::npos))
        broken("a refused frame without a one-line reason");

    if (size < 4)
        return 0;
    const int width = 2 + 2 * ((data[0] | data[1] << 8) % 1024), height = 1 + (data[2] | data[3] << 8) % 2048;
    const size_t bytesPerRow = size_t(width) * 2;
    if (size - 4 >= bytesPerRow * size_t(height))
        decoder.convertYuyvFrame(data + 4, width, height, bytesPerRow, frame.data(), frameWidth, frameHeight,
                                 size_t(frameWidth) * 4);
    return 0;
}
