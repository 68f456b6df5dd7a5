#include "host/headless/HeadlessHost.h"

#include "dispatch/DispatchQueue.h"

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
    if (!context_)
        context_ = EGLOffscreenContext::create("HeadlessHost", error);
    if (!context_)
        return nullptr;
    composer_ = ScreenComposer::create(error);
    return composer_.get();
}

} // namespace host
