#include "host/headless/OffscreenContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <string>
#include <vector>

namespace host {

struct OffscreenContext::Egl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
};

namespace {

// Displays worth trying, best first: Mesa's surfaceless platform (no window system at
// all), the first EGL device (drivers without the former), then the default display.
std::vector<EGLDisplay> candidateDisplays() {
    std::vector<EGLDisplay> displays;
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay) {
        EGLDisplay surfaceless =
            getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (surfaceless != EGL_NO_DISPLAY)
            displays.push_back(surfaceless);
        auto queryDevices =
            reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        EGLDeviceEXT device = nullptr;
        EGLint count = 0;
        if (queryDevices && queryDevices(1, &device, &count) && count > 0) {
            EGLDisplay onDevice = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
            if (onDevice != EGL_NO_DISPLAY)
                displays.push_back(onDevice);
        }
    }
    EGLDisplay standard = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (standard != EGL_NO_DISPLAY)
        displays.push_back(standard);
    return displays;
}

bool makeContext(EGLDisplay display, EGLContext& madeContext, EGLSurface& madeSurface) {
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor))
        return false;
    if (!eglBindAPI(EGL_OPENGL_ES_API))
        return false;
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_ES3_BIT,
                                       EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_ALPHA_SIZE,
                                       8,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1)
        return false;
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT)
        return false;
    // Everything is drawn into framebuffer objects: a surface is needed only where the
    // driver cannot make a context current without one.
    EGLSurface surface = EGL_NO_SURFACE;
    const std::string extensions =
        eglQueryString(display, EGL_EXTENSIONS) ? eglQueryString(display, EGL_EXTENSIONS) : "";
    if (extensions.find("EGL_KHR_surfaceless_context") == std::string::npos) {
        const EGLint pbufferAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, pbufferAttributes);
        if (surface == EGL_NO_SURFACE) {
            eglDestroyContext(display, context);
            return false;
        }
    }
    if (!eglMakeCurrent(display, surface, surface, context)) {
        if (surface != EGL_NO_SURFACE)
            eglDestroySurface(display, surface);
        eglDestroyContext(display, context);
        return false;
    }
    madeContext = context;
    madeSurface = surface;
    return true;
}

} // namespace

std::unique_ptr<OffscreenContext> OffscreenContext::create(NSError* error) {
    std::unique_ptr<OffscreenContext> result(new OffscreenContext());
    result->egl_ = std::make_unique<Egl>();
    for (EGLDisplay display : candidateDisplays()) {
        Egl& egl = *result->egl_;
        if (makeContext(display, egl.context, egl.surface)) {
            egl.display = display;
            return result;
        }
    }
    const EGLint code = eglGetError();
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(code));
    if (error)
        *error = NSError("OffscreenContext", code,
                         std::string("no OpenGL ES 3 context for the screen (EGL error ") + hex + ")");
    return nullptr;
}

OffscreenContext::~OffscreenContext() {
    if (!egl_ || egl_->context == EGL_NO_CONTEXT)
        return;
    // The display stays initialised: the image graph's context may live on it too.
    eglMakeCurrent(egl_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (egl_->surface != EGL_NO_SURFACE)
        eglDestroySurface(egl_->display, egl_->surface);
    eglDestroyContext(egl_->display, egl_->context);
}

void OffscreenContext::makeCurrent() {
    eglMakeCurrent(egl_->display, egl_->surface, egl_->surface, egl_->context);
}

} // namespace host
