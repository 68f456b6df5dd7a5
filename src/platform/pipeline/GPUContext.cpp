#include "pipeline/GPUContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES3/gl3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "foundation/Print.h"
#include "pipeline/ShaderProgram.h"

namespace {
std::mutex initializeMutex;
std::atomic<GPUContext*> sharedContext{nullptr};

bool hasExtension(const char* list, const char* name) {
    if (!list)
        return false;
    size_t length = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
        bool startsWord = p == list || p[-1] == ' ';
        bool endsWord = p[length] == ' ' || p[length] == '\0';
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

const char* glErrorName(GLenum code) {
    switch (code) {
    case GL_INVALID_ENUM:
        return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE:
        return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION:
        return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION:
        return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case GL_OUT_OF_MEMORY:
        return "GL_OUT_OF_MEMORY";
    default:
        return "unknown GL error";
    }
}
} // namespace

struct GPUContext::Egl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;

    void release() {
        if (display == EGL_NO_DISPLAY)
            return;
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (surface != EGL_NO_SURFACE)
            eglDestroySurface(display, surface);
        if (context != EGL_NO_CONTEXT)
            eglDestroyContext(display, context);
        eglTerminate(display);
        *this = Egl{};
    }
};

struct GPUContext::ProgramCache {
    std::map<std::pair<std::string, std::string>, std::shared_ptr<ShaderProgram>> programs;
};

GPUContext::GPUContext()
    : queue_(std::make_unique<DispatchQueue>("gpu")), egl_(std::make_unique<Egl>()),
      programs_(std::make_unique<ProgramCache>()) {}

GPUContext::~GPUContext() {
    // Only a context that failed to set up is ever destroyed; its EGL state is already
    // released, and the queue joins its thread here.
}

bool GPUContext::initialize(NSError* error) {
    if (sharedContext.load())
        return true;
    std::lock_guard lock(initializeMutex);
    if (sharedContext.load())
        return true;
    std::unique_ptr<GPUContext> context(new GPUContext());
    bool ready = false;
    NSError failure;
    context->queue_->sync([&] { ready = context->setUp(&failure); });
    if (!ready) {
        // A caller that takes the error reports it in its own words; say it once only.
        if (error)
            *error = failure;
        else
            foundation::logError("gpu: " + failure.localizedDescription());
        return false;
    }
    // Kept for the life of the process: frames and framebuffers may still be in flight
    // while static destructors run, so the queue must outlive them.
    sharedContext.store(context.release());
    return true;
}

GPUContext& GPUContext::shared() {
    if (GPUContext* context = sharedContext.load())
        return *context;
    NSError error;
    if (!initialize(&error)) {
        foundation::logError("gpu: " + error.localizedDescription() + "; cannot go on");
        std::abort();
    }
    return *sharedContext.load();
}

bool GPUContext::setUp(NSError* error) {
    auto fail = [&](const std::string& step) {
        EGLint code = eglGetError();
        char text[160];
        std::snprintf(text, sizeof text,
                      "cannot create an OpenGL ES 3.0 context: %s failed (EGL error 0x%04X %s)", step.c_str(),
                      unsigned(code), eglErrorName(code));
        *error = NSError("GPUContext", code, text);
        egl_->release();
        return false;
    };

    // Surfaceless first: it needs no display server and keeps us away from the window
    // system's connection, which the host uses from the main thread.
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!clientExtensions)
        eglGetError(); // no client extensions: not an error for us
    EGLint major = 0, minor = 0;
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless") &&
        hasExtension(clientExtensions, "EGL_EXT_platform_base")) {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay) {
            egl_->display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (egl_->display != EGL_NO_DISPLAY && !eglInitialize(egl_->display, &major, &minor))
                egl_->display = EGL_NO_DISPLAY;
        }
    }
    if (egl_->display == EGL_NO_DISPLAY) {
        egl_->display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        if (egl_->display == EGL_NO_DISPLAY)
            return fail("eglGetDisplay");
        if (!eglInitialize(egl_->display, &major, &minor)) {
            egl_->display = EGL_NO_DISPLAY;
            return fail("eglInitialize");
        }
    }
    if (!eglBindAPI(EGL_OPENGL_ES_API))
        return fail("eglBindAPI");

    bool surfaceless =
        hasExtension(eglQueryString(egl_->display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT, EGL_SURFACE_TYPE,
                                       surfaceless ? EGLint(EGL_DONT_CARE) : EGLint(EGL_PBUFFER_BIT),
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(egl_->display, configAttributes, &config, 1, &configCount))
        return fail("eglChooseConfig");
    if (configCount < 1) {
        *error = NSError("GPUContext", EGL_BAD_CONFIG,
                         "cannot create an OpenGL ES 3.0 context: no EGL config renders OpenGL ES 3 "
                         "(EGL error 0x3005 EGL_BAD_CONFIG)");
        egl_->release();
        return false;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    egl_->context = eglCreateContext(egl_->display, config, EGL_NO_CONTEXT, contextAttributes);
    if (egl_->context == EGL_NO_CONTEXT)
        return fail("eglCreateContext");
    if (!surfaceless) {
        const EGLint pbufferAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        egl_->surface = eglCreatePbufferSurface(egl_->display, config, pbufferAttributes);
        if (egl_->surface == EGL_NO_SURFACE)
            return fail("eglCreatePbufferSurface");
    }
    if (!eglMakeCurrent(egl_->display, egl_->surface, egl_->surface, egl_->context))
        return fail("eglMakeCurrent");

    auto text = [](GLenum name) {
        const GLubyte* value = glGetString(name);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string("?");
    };
    description_ = text(GL_VERSION) + " (" + text(GL_RENDERER) + ")";
    glGenVertexArrays(1, &emptyVertexArray_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glDisable(GL_DITHER); // dithering would make 8-bit results differ from exact values
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    return checkGLError("context set-up");
}

void GPUContext::runSync(const std::function<void()>& work) {
    if (isCurrentQueue())
        work();
    else
        queue_->sync(work);
}

void GPUContext::runAsync(std::function<void()> work) {
    queue_->async(std::move(work));
}

bool GPUContext::isCurrentQueue() const {
    return DispatchQueue::current() == queue_.get();
}

std::shared_ptr<ShaderProgram> GPUContext::program(const char* vertexSource, const char* fragmentSource) {
    auto key = std::make_pair(std::string(vertexSource), std::string(fragmentSource));
    auto found = programs_->programs.find(key);
    if (found != programs_->programs.end())
        return found->second;
    // A failure is remembered too, so a broken shader is reported once, not every frame.
    auto program = ShaderProgram::compile(vertexSource, fragmentSource, nullptr);
    programs_->programs.emplace(std::move(key), program);
    return program;
}

bool checkGLError(const char* where) {
    bool clean = true;
    // Bounded: a lost context can report errors forever.
    for (int i = 0; i < 8; ++i) {
        GLenum code = glGetError();
        if (code == GL_NO_ERROR)
            break;
        clean = false;
        char text[128];
        std::snprintf(text, sizeof text, "gpu: GL error 0x%04X %s in %s", unsigned(code), glErrorName(code),
                      where);
        foundation::logError(text);
    }
    return clean;
}
