#pragma once
// The small objects every frame makes (a pixel buffer, a sample buffer) together with their
// shared_ptr bookkeeping, from blocks that are kept for reuse: a steady stream of frames
// makes them without touching the heap once the most frames in flight at once have been
// seen. A block comes back when its object's last holder drops it.
//
// Threads: any; a block is taken and given back under one short lock.
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace frame_objects {

// Large enough for a pixel buffer or a sample buffer with its shared_ptr control block.
inline constexpr size_t blockSize = 128;

void* takeBlock();
void giveBack(void* block);

// An allocator over those blocks, for std::allocate_shared.
template <class T> struct BlockAllocator {
    using value_type = T;
    BlockAllocator() = default;
    template <class U> BlockAllocator(const BlockAllocator<U>&) {}
    T* allocate(size_t n) {
        static_assert(alignof(T) <= alignof(std::max_align_t));
        if (n * sizeof(T) > blockSize)
            return static_cast<T*>(::operator new(n * sizeof(T)));
        return static_cast<T*>(takeBlock());
    }
    void deallocate(T* p, size_t n) {
        if (n * sizeof(T) > blockSize)
            ::operator delete(p);
        else
            giveBack(p);
    }
    template <class U> bool operator==(const BlockAllocator<U>&) const { return true; }
};

} // namespace frame_objects

// Makes a T the way std::make_shared does, from a kept block.
template <class T, class... Arguments> std::shared_ptr<T> makeFrameObject(Arguments&&... arguments) {
    return std::allocate_shared<T>(frame_objects::BlockAllocator<T>(), std::forward<Arguments>(arguments)...);
}
