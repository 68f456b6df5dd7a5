#pragma once
// An OpenGL ES 3 context for the thread that makes it, with no window: the headless
// host composes snapshots with it on the main thread. It is separate from the image
// graph's context (which lives on the GPU queue), so the two never share state.
#include <memory>

#include "foundation/NSError.h"

namespace host {

class OffscreenContext {
  public:
    // Made current on the calling thread; null (with `error`) when EGL has no ES 3
    // context to give.
    static std::unique_ptr<OffscreenContext> create(NSError* error);
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    void makeCurrent();

  private:
    OffscreenContext() = default;
    struct Egl;
    std::unique_ptr<Egl> egl_;
};

} // namespace host
