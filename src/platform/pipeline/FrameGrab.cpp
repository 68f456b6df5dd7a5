#include "pipeline/FrameGrab.h"

#include "pipeline/Operations.h"

std::shared_ptr<FrameGrab> FrameGrab::attach(RenderView& view) {
    std::shared_ptr<FrameGrab> grab(new FrameGrab(view));
    view.addSink(grab);
    return grab;
}

bool FrameGrab::grab(Handler handler) {
    if (view_.presentedFrame().sequence == 0)
        return false;
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(std::move(handler));
    }
    view_.sinkNeedsChanged();
    return true;
}

FrameSink::Needs FrameGrab::needs() const {
    std::lock_guard lock(mutex_);
    return Needs{!waiting_.empty(), {}};
}

void FrameGrab::framePixels(const FramePixels& pixels) {
    std::vector<Handler> handlers;
    {
        std::lock_guard lock(mutex_);
        handlers.swap(waiting_);
    }
    for (auto& handler : handlers)
        handler(pixels);
}
