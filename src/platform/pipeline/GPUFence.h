#pragma once
#include <chrono>
#include <memory>

// A GL fence sync object. The GPU queue sets one after drawing a frame, and any context
// that shares the GPU queue's (the window's, the headless screen's) waits on it before
// sampling the frame, so it never shows a frame still being drawn; the screen sets one
// after its last draw from a frame, and the GPU queue waits on that before drawing into
// the frame's texture again. Fence objects belong to the share group: any of its contexts
// may wait on or delete one.
class GPUFence {
  public:
    // A fence after every command the current context has issued so far, flushed so that
    // other contexts see it. Null (logged) when the driver cannot make one.
    static std::shared_ptr<GPUFence> insert();
    ~GPUFence();
    GPUFence(const GPUFence&) = delete;
    GPUFence& operator=(const GPUFence&) = delete;

    // Makes the current context's later commands wait for the fence (a server-side wait:
    // the calling thread does not block).
    void waitOnCurrentContext() const;
    // Without waiting: whether the commands before the fence have completed.
    bool hasCompleted() const;
    // Blocks until the commands before the fence have completed, up to `timeout`.
    bool waitUntilCompleted(std::chrono::nanoseconds timeout) const;

  private:
    explicit GPUFence(void* sync) : sync_(sync) {}
    void* sync_;
};
