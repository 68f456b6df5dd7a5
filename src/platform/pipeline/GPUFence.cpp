#include "pipeline/GPUFence.h"

#include <EGL/egl.h>
#include <GLES3/gl3.h>

#include "foundation/Print.h"
#include "pipeline/GPUContext.h"

std::shared_ptr<GPUFence> GPUFence::insert() {
    GLsync sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    if (!sync) {
        foundation::logError("gpu: no fence could be made");
        return nullptr;
    }
    // Unflushed, a fence might never reach the GPU, and a wait on it from another context
    // would never end.
    glFlush();
    return std::shared_ptr<GPUFence>(new GPUFence(sync));
}

GPUFence::~GPUFence() {
    // A thread with no context of the share group (a sink's own) hands the deletion over.
    if (eglGetCurrentContext() != EGL_NO_CONTEXT) {
        glDeleteSync(static_cast<GLsync>(sync_));
        return;
    }
    GPUContext::shared().runAsync([sync = sync_] { glDeleteSync(static_cast<GLsync>(sync)); });
}

void GPUFence::waitOnCurrentContext() const {
    glWaitSync(static_cast<GLsync>(sync_), 0, GL_TIMEOUT_IGNORED);
}

bool GPUFence::hasCompleted() const {
    return waitUntilCompleted(std::chrono::nanoseconds(0));
}

bool GPUFence::waitUntilCompleted(std::chrono::nanoseconds timeout) const {
    const GLenum result =
        glClientWaitSync(static_cast<GLsync>(sync_), 0, static_cast<GLuint64>(timeout.count()));
    return result == GL_ALREADY_SIGNALED || result == GL_CONDITION_SATISFIED;
}
