#pragma once
// The shared processing context: one serial queue, "gpu", whose thread holds an OpenGL ES
// 3.0 context. Every GL call of the image graph runs on that queue, so the graph needs no
// GL locking. The screen's context (the window's, or the headless host's) shares its
// objects, so the screen draws the graph's output textures where they are, waiting on a
// fence; pixels reach the CPU only for sinks that ask (see FrameSink.h).
//
// The context renders only into framebuffer objects, so it needs no window (see
// EGLOffscreenContext for the displays it tries).
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/DispatchQueue.h"
#include "foundation/NSError.h"
#include "pipeline/EGLOffscreenContext.h"

class ShaderProgram;

class GPUContext {
  public:
    // Creates the shared context once; later calls return the first call's success.
    // On failure fills `error` (domain "GPUContext", code = the EGL error), or logs the
    // reason when `error` is null, and returns false; a later call tries again.
    // With `shareWith` (the window's context), the context is made on that display sharing
    // its objects; where that fails it is made on its own, and sharedWith() says so.
    static bool initialize(NSError* error, EGLShareGroup shareWith = {});
    // The shared context, initialising it when needed. Aborts with a message when no
    // context can be made: callers that can cope check initialize() first.
    static GPUContext& shared();

    // Runs `work` on the GPU queue and waits for it; runs it at once when already there.
    void runSync(const std::function<void()>& work);
    void runAsync(std::function<void()> work);
    void runAfter(std::chrono::steady_clock::duration delay, std::function<void()> work);
    bool isCurrentQueue() const;

    // This context, for another (the headless screen's) to share its objects.
    EGLShareGroup shareGroup() const;
    // Whether this context shares the objects of `context` (an EGLContext).
    bool sharesWith(void* context) const { return context && context == sharedWith_; }

    // "OpenGL ES 3.2 Mesa ... (llvmpipe ...)" and the like, for diagnostics.
    const std::string& description() const { return description_; }

    // GPU queue only: the program built from these sources, compiled on first request
    // and shared by every operation that asks for it. Null (logged) when it cannot build.
    std::shared_ptr<ShaderProgram> program(const char* vertexSource, const char* fragmentSource);
    // GPU queue only: an empty vertex array object for attribute-less draws.
    unsigned emptyVertexArray() const { return emptyVertexArray_; }
    // GPU queue only: binds a vertex array whose attribute 0 reads `positions` (x, y pairs),
    // copied into its buffer, for the draw that follows.
    void bindPositions(const std::vector<float>& positions) const;

    ~GPUContext();
    GPUContext(const GPUContext&) = delete;
    GPUContext& operator=(const GPUContext&) = delete;

  private:
    GPUContext();
    bool setUp(NSError* error, EGLShareGroup shareWith); // on the GPU queue
    void* sharedWith_ = nullptr;
    std::unique_ptr<DispatchQueue> queue_;
    std::unique_ptr<EGLOffscreenContext> egl_;
    std::string description_;
    unsigned emptyVertexArray_ = 0, positionVertexArray_ = 0, positionVertexBuffer_ = 0;
    struct ProgramCache;
    std::unique_ptr<ProgramCache> programs_;
};

// GPU queue only: logs (on standard error) every pending GL error with `where`; returns
// whether there was none.
bool checkGLError(const char* where);
