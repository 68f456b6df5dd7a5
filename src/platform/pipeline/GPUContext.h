#pragma once
// The shared processing context: one serial queue, "gpu", whose thread holds an OpenGL ES
// 3.0 context. Every GL call of the image graph runs on that queue, so the graph needs no
// GL locking and no sharing between contexts; results reach the CPU by reading back.
//
// The context renders only into framebuffer objects, so it needs no window (see
// EGLOffscreenContext for the displays it tries).
#include <functional>
#include <memory>
#include <string>

#include "dispatch/DispatchQueue.h"
#include "foundation/NSError.h"

class ShaderProgram;
class EGLOffscreenContext;

class GPUContext {
  public:
    // Creates the shared context once; later calls return the first call's success.
    // On failure fills `error` (domain "GPUContext", code = the EGL error), or logs the
    // reason when `error` is null, and returns false; a later call tries again.
    static bool initialize(NSError* error);
    // The shared context, initialising it when needed. Aborts with a message when no
    // context can be made: callers that can cope check initialize() first.
    static GPUContext& shared();

    // Runs `work` on the GPU queue and waits for it; runs it at once when already there.
    void runSync(const std::function<void()>& work);
    void runAsync(std::function<void()> work);
    bool isCurrentQueue() const;

    // "OpenGL ES 3.2 Mesa ... (llvmpipe ...)" and the like, for diagnostics.
    const std::string& description() const { return description_; }

    // GPU queue only: the program built from these sources, compiled on first request
    // and shared by every operation that asks for it. Null (logged) when it cannot build.
    std::shared_ptr<ShaderProgram> program(const char* vertexSource, const char* fragmentSource);
    // GPU queue only: an empty vertex array object for attribute-less draws.
    unsigned emptyVertexArray() const { return emptyVertexArray_; }

    ~GPUContext();
    GPUContext(const GPUContext&) = delete;
    GPUContext& operator=(const GPUContext&) = delete;

  private:
    GPUContext();
    bool setUp(NSError* error); // on the GPU queue
    std::unique_ptr<DispatchQueue> queue_;
    std::unique_ptr<EGLOffscreenContext> egl_;
    std::string description_;
    unsigned emptyVertexArray_ = 0;
    struct ProgramCache;
    std::unique_ptr<ProgramCache> programs_;
};

// GPU queue only: logs (on standard error) every pending GL error with `where`; returns
// whether there was none.
bool checkGLError(const char* where);
