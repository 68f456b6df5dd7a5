#include "pipeline/EGLOffscreenContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

struct EGLOffscreenContext::Egl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
};

namespace {

bool hasExtension(const char* list, const char* name) {
    if (!list)
        return false;
    const size_t length = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
        const bool startsWord = p == list || p[-1] == ' ';
        const bool endsWord = p[length] == ' ' || p[length] == '\0';
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

const char* eglErrorName(EGLint code) {
    switch (code) {
    case EGL_SUCCESS:
        return "EGL_SUCCESS";
    case EGL_NOT_INITIALIZED:
        return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS:
        return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC:
        return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE:
        return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG:
        return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT:
        return "EGL_BAD_CONTEXT";
    case EGL_BAD_CURRENT_SURFACE:
        return "EGL_BAD_CURRENT_SURFACE";
    case EGL_BAD_DISPLAY:
        return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH:
        return "EGL_BAD_MATCH";
    case EGL_BAD_NATIVE_PIXMAP:
        return "EGL_BAD_NATIVE_PIXMAP";
    case EGL_BAD_NATIVE_WINDOW:
        return "EGL_BAD_NATIVE_WINDOW";
    case EGL_BAD_PARAMETER:
        return "EGL_BAD_PARAMETER";
    case EGL_BAD_SURFACE:
        return "EGL_BAD_SURFACE";
    case EGL_CONTEXT_LOST:
        return "EGL_CONTEXT_LOST";
    default:
        return "unknown EGL error";
    }
}

std::vector<EGLDisplay> candidateDisplays() {
    std::vector<EGLDisplay> displays;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!clientExtensions)
        eglGetError(); // no client extensions: only the default display is on offer
    auto getPlatformDisplay =
        hasExtension(clientExtensions, "EGL_EXT_platform_base")
            ? reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"))
            : nullptr;
    if (getPlatformDisplay && hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay surfaceless =
            getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (surfaceless != EGL_NO_DISPLAY)
            displays.push_back(surfaceless);
    }
    auto queryDevices =
        hasExtension(clientExtensions, "EGL_EXT_device_enumeration")
            ? reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"))
            : nullptr;
    EGLDeviceEXT device = nullptr;
    EGLint count = 0;
    if (getPlatformDisplay && queryDevices && queryDevices(1, &device, &count) && count > 0) {
        EGLDisplay onDevice = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
        if (onDevice != EGL_NO_DISPLAY)
            displays.push_back(onDevice);
    }
    EGLDisplay standard = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (standard != EGL_NO_DISPLAY)
        displays.push_back(standard);
    return displays;
}

// Makes a context current on `display`; on failure returns the step that failed, with
// nothing left behind but the initialised display (which other contexts may share).
const char* makeContext(EGLDisplay display, EGLContext shared, EGLContext& madeContext,
                        EGLSurface& madeSurface) {
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor))
        return "eglInitialize";
    if (!eglBindAPI(EGL_OPENGL_ES_API))
        return "eglBindAPI";
    const bool surfaceless =
        hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_ES3_BIT,
                                       EGL_SURFACE_TYPE,
                                       surfaceless ? EGLint(EGL_DONT_CARE) : EGLint(EGL_PBUFFER_BIT),
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
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configs))
        return "eglChooseConfig";
    if (configs < 1)
        return "eglChooseConfig (no config renders OpenGL ES 3)";
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, shared, contextAttributes);
    if (context == EGL_NO_CONTEXT)
        return "eglCreateContext";
    EGLSurface surface = EGL_NO_SURFACE;
    if (!surfaceless) {
        const EGLint pbufferAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, pbufferAttributes);
        if (surface == EGL_NO_SURFACE) {
            eglDestroyContext(display, context);
            return "eglCreatePbufferSurface";
        }
    }
    if (!eglMakeCurrent(display, surface, surface, context)) {
        if (surface != EGL_NO_SURFACE)
            eglDestroySurface(display, surface);
        eglDestroyContext(display, context);
        return "eglMakeCurrent";
    }
    madeContext = context;
    madeSurface = surface;
    return nullptr;
}

} // namespace

EGLOffscreenContext::EGLOffscreenContext() : egl_(std::make_unique<Egl>()) {}

EGLShareGroup EGLShareGroup::current() {
    EGLDisplay display = eglGetCurrentDisplay();
    EGLContext context = eglGetCurrentContext();
    if (display == EGL_NO_DISPLAY || context == EGL_NO_CONTEXT)
        return {};
    return {display, context};
}

std::unique_ptr<EGLOffscreenContext> EGLOffscreenContext::create(const char* errorDomain, NSError* error,
                                                                 EGLShareGroup shareWith) {
    std::unique_ptr<EGLOffscreenContext> result(new EGLOffscreenContext());
    const char* failedStep = "eglGetDisplay";
    EGLint code = EGL_BAD_DISPLAY;
    const std::vector<EGLDisplay> displays =
        shareWith ? std::vector<EGLDisplay>{static_cast<EGLDisplay>(shareWith.display)} : candidateDisplays();
    for (EGLDisplay display : displays) {
        Egl& egl = *result->egl_;
        failedStep =
            makeContext(display, shareWith ? static_cast<EGLContext>(shareWith.context) : EGL_NO_CONTEXT,
                        egl.context, egl.surface);
        if (!failedStep) {
            egl.display = display;
            return result;
        }
        code = eglGetError();
        if (code == EGL_SUCCESS)
            code = EGL_BAD_CONFIG; // the display works but offers no ES 3 config
    }
    if (error) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "cannot create an OpenGL ES 3.0 context: %s failed (EGL error 0x%04X %s)", failedStep,
                      unsigned(code), eglErrorName(code));
        *error = NSError(errorDomain, code, text);
    }
    return nullptr;
}

EGLOffscreenContext::~EGLOffscreenContext() {
    if (egl_->context == EGL_NO_CONTEXT)
        return;
    // The display stays initialised: the other context may live on it too.
    eglMakeCurrent(egl_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (egl_->surface != EGL_NO_SURFACE)
        eglDestroySurface(egl_->display, egl_->surface);
    eglDestroyContext(egl_->display, egl_->context);
}

void EGLOffscreenContext::makeCurrent() {
    eglMakeCurrent(egl_->display, egl_->surface, egl_->surface, egl_->context);
}

EGLShareGroup EGLOffscreenContext::shareGroup() const {
    return {egl_->display, egl_->context};
}
