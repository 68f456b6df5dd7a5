#include <atomic>
#include <bit>
#include <cstdint>

#include "pipeline/ImagePipeline.h"

namespace {
// Both sides in one word, so a reader never sees half of a change.
std::atomic<uint64_t> packedSize{uint64_t(std::bit_cast<uint32_t>(640.0f)) << 32 |
                                 std::bit_cast<uint32_t>(480.0f)};
} // namespace

Size sharedFramebufferSize() {
    const uint64_t packed = packedSize.load(std::memory_order_acquire);
    return Size{std::bit_cast<float>(uint32_t(packed >> 32)), std::bit_cast<float>(uint32_t(packed))};
}

void setSharedFramebufferSize(Size size) {
    packedSize.store(uint64_t(std::bit_cast<uint32_t>(size.width)) << 32 |
                         std::bit_cast<uint32_t>(size.height),
                     std::memory_order_release);
}
