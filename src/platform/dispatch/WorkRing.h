#pragma once
// A first-in first-out queue of closures over one growable ring: once it has held the
// most closures waiting at once, pushing and popping allocate nothing (a deque allocates
// a block every few pushes). Not thread-safe: the queue that owns it locks around it.
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

class WorkRing {
  public:
    using Work = std::function<void()>;

    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }

    void push(Work work) {
        if (count_ == slots_.size())
            grow();
        slots_[(first_ + count_) % slots_.size()] = std::move(work);
        ++count_;
    }

    // The oldest closure, taken out. Precondition: not empty.
    Work pop() {
        Work work = std::move(slots_[first_]);
        slots_[first_] = nullptr;
        first_ = (first_ + 1) % slots_.size();
        --count_;
        return work;
    }

  private:
    void grow() {
        std::vector<Work> larger(slots_.empty() ? 16 : slots_.size() * 2);
        for (size_t i = 0; i < count_; ++i)
            larger[i] = std::move(slots_[(first_ + i) % slots_.size()]);
        slots_ = std::move(larger);
        first_ = 0;
    }

    std::vector<Work> slots_;
    size_t first_ = 0, count_ = 0;
};
