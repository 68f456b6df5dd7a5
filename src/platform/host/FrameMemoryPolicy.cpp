#include "host/FrameMemoryPolicy.h"

#include <malloc.h>

namespace host {

void keepLargeBuffersReturnable() {
    // Setting the threshold at all also switches off glibc's dynamic adjustment of it.
    // 256 KiB leaves every small allocation where it was; only frame-sized ones move.
    constexpr int threshold = 256 * 1024;
    mallopt(M_MMAP_THRESHOLD, threshold);
}

} // namespace host
