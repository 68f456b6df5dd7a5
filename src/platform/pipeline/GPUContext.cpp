#include "pipeline/GPUContext.h"

#include <GLES3/gl3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "foundation/Print.h"
#include "pipeline/EGLOffscreenContext.h"
#include "pipeline/ShaderProgram.h"

namespace {
std::mutex initializeMutex;
std::atomic<GPUContext*> sharedContext{nullptr};

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

struct GPUContext::ProgramCache {
    std::map<std::pair<std::string, std::string>, std::shared_ptr<ShaderProgram>> programs;
};

GPUContext::GPUContext()
    : queue_(std::make_unique<DispatchQueue>("gpu")), programs_(std::make_unique<ProgramCache>()) {}

GPUContext::~GPUContext() {
    // Only a context that failed to set up is ever destroyed; its EGL state is already
    // released, and the queue joins its thread here.
}

bool GPUContext::initialize(NSError* error, EGLShareGroup shareWith) {
    if (sharedContext.load())
        return true;
    std::lock_guard lock(initializeMutex);
    if (sharedContext.load())
        return true;
    std::unique_ptr<GPUContext> context(new GPUContext());
    bool ready = false;
    NSError failure;
    context->queue_->sync([&] {
        ready = shareWith && context->setUp(&failure, shareWith);
        if (!ready) {
            if (shareWith)
                foundation::logError("gpu: cannot share the window's context (" +
                                     failure.localizedDescription() +
                                     "); its pictures are copied through the CPU");
            ready = context->setUp(&failure, {});
        }
    });
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

void GPUContext::bindPositions(const std::vector<float>& positions) const {
    glBindVertexArray(positionVertexArray_);
    glBindBuffer(GL_ARRAY_BUFFER, positionVertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(positions.size() * sizeof(float)), positions.data(),
                 GL_STREAM_DRAW);
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

bool GPUContext::setUp(NSError* error, EGLShareGroup shareWith) {
    // Windowless: it keeps us away from the window system's connection, which the host
    // uses from the main thread. Sharing with the window's context puts it on the window's
    // display, still without a surface of its own.
    egl_ = EGLOffscreenContext::create("GPUContext", error, shareWith);
    if (!egl_)
        return false;
    sharedWith_ = shareWith.context;

    auto text = [](GLenum name) {
        const GLubyte* value = glGetString(name);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string("?");
    };
    description_ = text(GL_VERSION) + " (" + text(GL_RENDERER) + ")";
    glGenVertexArrays(1, &emptyVertexArray_);
    glGenVertexArrays(1, &positionVertexArray_);
    glGenBuffers(1, &positionVertexBuffer_);
    glBindVertexArray(positionVertexArray_);
    glBindBuffer(GL_ARRAY_BUFFER, positionVertexBuffer_);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glBindVertexArray(0);
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

void GPUContext::runAfter(std::chrono::steady_clock::duration delay, std::function<void()> work) {
    queue_->asyncAfter(delay, std::move(work));
}

EGLShareGroup GPUContext::shareGroup() const {
    return egl_ ? egl_->shareGroup() : EGLShareGroup{};
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
