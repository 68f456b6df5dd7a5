#pragma once
// The pixels of the frame shown now, once: the shutter and a script's capture ask through
// this sink, which wants pixels only while someone is waiting for them.
//
// Threads: grab() from any thread; the handlers run on the GPU queue and must only hand
// the pixels on (to a queue that writes the file).
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "pipeline/FrameSink.h"

class RenderView;

class FrameGrab : public FrameSink {
  public:
    using Handler = std::function<void(const FramePixels&)>;

    // Registered with `view`, which must outlive it.
    static std::shared_ptr<FrameGrab> attach(RenderView& view);

    // `handler` gets the pixels of the frame shown now (or, while the camera runs, of one
    // just after it). False, without calling it, when nothing has been shown yet.
    bool grab(Handler handler);

    Needs needs() const override;
    void framePixels(const FramePixels& pixels) override;

  private:
    explicit FrameGrab(RenderView& view) : view_(view) {}
    RenderView& view_;
    mutable std::mutex mutex_;
    std::vector<Handler> waiting_;
};
