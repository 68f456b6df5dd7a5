#include "host/headless/HeadlessHost.h"

#include "dispatch/DispatchQueue.h"
#include "pipeline/GPUContext.h"

namespace host {

HeadlessHost::~HeadlessHost() {
    if (context_)
        context_->makeCurrent(); // the composer's GL names belong to this context
    composer_.reset();
}

void HeadlessHost::runLoop() {
    auto& main = DispatchQueue::main();
    while (!quitRequested()) {
        main.waitForWork(DispatchQueue::Clock::time_point::max());
        main.drain();
    }
}

ScreenComposer* HeadlessHost::composer(NSError* error) {
    if (composer_)
        return composer_.get();
    // Sharing the GPU queue's objects, the screen draws the pipeline's textures as they are.
    if (!context_)
        context_ = EGLOffscreenContext::create("HeadlessHost", error, GPUContext::shared().shareGroup());
    if (!context_)
        return nullptr;
    composer_ = ScreenComposer::create(error, true);
    return composer_.get();
}

} // namespace host
