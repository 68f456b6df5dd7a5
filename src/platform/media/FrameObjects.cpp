#include "media/FrameObjects.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace frame_objects {
namespace {
// More than any run keeps in flight; blocks beyond it go back to the heap.
constexpr size_t keptBlocks = 512;

struct FreeBlocks {
    std::mutex mutex;
    std::vector<void*> blocks;
    size_t made = 0;
};
// Never destroyed: objects dropped while statics are destroyed still find it.
FreeBlocks& freeBlocks() {
    static auto* blocks = new FreeBlocks;
    return *blocks;
}
} // namespace

void* takeBlock() {
    FreeBlocks& free = freeBlocks();
    {
        std::lock_guard lock(free.mutex);
        if (!free.blocks.empty()) {
            void* block = free.blocks.back();
            free.blocks.pop_back();
            return block;
        }
        if (free.made < keptBlocks) {
            // Room to give every block made back without growing the list then.
            free.blocks.reserve(++free.made);
            return ::operator new(blockSize);
        }
    }
    return ::operator new(blockSize);
}

void giveBack(void* block) {
    FreeBlocks& free = freeBlocks();
    {
        std::lock_guard lock(free.mutex);
        if (free.blocks.size() < free.blocks.capacity()) {
            free.blocks.push_back(block);
            return;
        }
    }
    ::operator delete(block);
}

} // namespace frame_objects
