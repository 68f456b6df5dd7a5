#include "media/FramePool.h"

#include <algorithm>
#include <mutex>

#include "media/FrameObjects.h"

struct FramePool::State {
    struct Slot {
        std::vector<uint8_t> bytes;
        bool inUse = false;
    };
    explicit State(size_t capacity) : capacity(capacity) {}
    std::mutex mutex;
    const size_t capacity;
    std::vector<std::unique_ptr<Slot>> slots;
};

FramePool::FramePool(size_t capacity) : state_(std::make_shared<State>(capacity)) {}

FramePool::~FramePool() = default;

FramePool& FramePool::shared() {
    // Never destroyed: buffers dropped by threads that outlive static destruction still
    // find their pool.
    static auto* pool = new FramePool();
    return *pool;
}

FramePool::Buffer FramePool::take(size_t size) {
    State& state = *state_;
    State::Slot* chosen = nullptr;
    {
        std::lock_guard lock(state.mutex);
        auto free = [](const std::unique_ptr<State::Slot>& slot) { return !slot->inUse; };
        auto found = std::find_if(state.slots.begin(), state.slots.end(),
                                  [&](const auto& slot) { return free(slot) && slot->bytes.size() == size; });
        if (found == state.slots.end() && state.slots.size() < state.capacity)
            found = state.slots.insert(state.slots.end(), std::make_unique<State::Slot>());
        // Full: a free buffer of another size (a size change leaves them behind) is resized.
        if (found == state.slots.end())
            found = std::find_if(state.slots.begin(), state.slots.end(), free);
        if (found == state.slots.end())
            return std::make_shared<std::vector<uint8_t>>(size);
        chosen = found->get();
        chosen->inUse = true;
    }
    // Only this thread holds the slot now.
    if (chosen->bytes.size() != size)
        chosen->bytes = std::vector<uint8_t>(size);
    // Runs when the last holder drops the buffer: the slot is free again, under the pool's
    // lock, which orders every holder's use before the next take().
    auto giveBack = [state = state_, chosen](std::vector<uint8_t>*) {
        std::lock_guard lock(state->mutex);
        chosen->inUse = false;
    };
    return Buffer(&chosen->bytes, std::move(giveBack), frame_objects::BlockAllocator<std::vector<uint8_t>>());
}

size_t FramePool::kept() const {
    std::lock_guard lock(state_->mutex);
    return state_->slots.size();
}
