#pragma once
// An OpenGL ES 3 context with no window, made current on the thread that creates it. The
// image graph's GPU queue holds one, and the headless host composes its snapshots with
// another on the main thread; both come from here, so a machine where one can be made is a
// machine where the other can too.
//
// Displays are tried best first: Mesa's surfaceless platform (no window system at all), the
// first EGL device (drivers without the former), then the default display. Everything is
// drawn into framebuffer objects, so a 1x1 pbuffer is made only where the driver cannot make
// a context current without a surface.
#include <memory>

#include "foundation/NSError.h"

class EGLOffscreenContext {
  public:
    // Null (with `error`, domain `errorDomain`, code the EGL error) when no display gives an
    // OpenGL ES 3 context. The message names the step that failed last.
    static std::unique_ptr<EGLOffscreenContext> create(const char* errorDomain, NSError* error);
    ~EGLOffscreenContext();
    EGLOffscreenContext(const EGLOffscreenContext&) = delete;
    EGLOffscreenContext& operator=(const EGLOffscreenContext&) = delete;

    // Makes the context current on the calling thread again (after another was).
    void makeCurrent();

  private:
    EGLOffscreenContext();
    struct Egl;
    std::unique_ptr<Egl> egl_;
};
