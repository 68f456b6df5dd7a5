// Still pictures from arbitrary file bytes: `--camera FILE` hands a file anyone made to
// the PNG/JPEG decoder, so no file may crash it, make it read out of bounds or allocate
// more than the size limits allow; a file it takes must give a whole 640 × 480 frame, and
// one it refuses a capture error that reads well after "Could not initialize rendering
// pipeline: ".
//
// The loader reads from a path, so each input is written to an in-memory file and read
// through /proc/self/fd: no disk traffic, and nothing left behind when a finding aborts
// the process.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/CaptureError.h"
#include "capture/still/StillImageCaptureDevice.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_still_image: %s\n", what);
    std::abort();
}

int scratchFile() {
    static const int fd = [] {
        int made = memfd_create("fernhold-fuzz-still", 0);
        if (made < 0)
            broken("cannot make the in-memory file");
        return made;
    }();
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = scratchFile();
    if (ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != ssize_t(size)))
        broken("cannot write the in-memory file");
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    NSError error;
    auto image = loadStillImage(path, &error);
    if (image) {
        if (!image->frame || image->frame->size() != size_t(640) * 480 * 4)
            broken("a loaded picture without a whole frame");
        if (image->sourceWidth <= 0 || image->sourceHeight <= 0 ||
            image->sourceWidth > maximumStillImageSide || image->sourceHeight > maximumStillImageSide ||
            int64_t(image->sourceWidth) * image->sourceHeight > maximumStillImagePixels)
            broken("a picture beyond the size limits was decoded");
        return 0;
    }
    if (error.domain() != CaptureErrorDomain || error.code() < 1 || error.code() > 4)
        broken("a refusal that is not a file or image capture error");
    const std::string& why = error.localizedDescription();
    if (why.empty() || why.find('\n') != std::string::npos)
        broken("a refusal that is not one line");
    if (why.find(path) == std::string::npos)
        broken("a refusal that does not name the file");
    return 0;
}
