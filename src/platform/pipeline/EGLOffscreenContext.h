#pragma once
// An OpenGL ES 3 context with no window, made current on the thread that creates it. The
// image graph's GPU queue holds one, and the headless host composes its snapshots with
// another on the main thread; both come from here, so a machine where one can be made is a
// machine where the other can too.
//
// Without a context to share with, displays are tried best first: Mesa's surfaceless platform (no window
// system at all), the first EGL device (drivers without the former), then the default display. Everything is
// drawn into framebuffer objects, so a 1x1 pbuffer is made only where the driver cannot make
// a context current without a surface.
#include <memory>

#include "foundation/NSError.h"

// An EGL display with a context on it whose textures, buffers and fences a new context
// shares (its share group). Empty for a context that shares nothing.
struct EGLShareGroup {
    void* display = nullptr; // EGLDisplay
    void* context = nullptr; // EGLContext
    explicit operator bool() const { return display && context; }
    // The display and context current on the calling thread (a window's, say).
    static EGLShareGroup current();
};

class EGLOffscreenContext {
  public:
    // Null (with `error`, domain `errorDomain`, code the EGL error) when no display gives an
    // OpenGL ES 3 context. The message names the step that failed last. With `shareWith`,
    // the context is made on that display only, sharing that context's objects.
    static std::unique_ptr<EGLOffscreenContext> create(const char* errorDomain, NSError* error,
                                                       EGLShareGroup shareWith = {});
    ~EGLOffscreenContext();
    EGLOffscreenContext(const EGLOffscreenContext&) = delete;
    EGLOffscreenContext& operator=(const EGLOffscreenContext&) = delete;

    // Makes the context current on the calling thread again (after another was).
    void makeCurrent();
    // This context, for another to share its objects.
    EGLShareGroup shareGroup() const;

  private:
    EGLOffscreenContext();
    struct Egl;
    std::unique_ptr<Egl> egl_;
};
