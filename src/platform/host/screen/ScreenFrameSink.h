#pragma once
// The screen as a sink of the render view: it keeps the frame to draw next. Where the
// screen's context shares the GPU queue's, that is the frame's own texture and nothing is
// read back; where it cannot (a window system whose context shares nothing), the sink asks
// for the pixels and the screen uploads them.
//
// Threads: frames arrive on the GPU queue; the screen takes them on the main thread.
#include <mutex>

#include "pipeline/FrameSink.h"

namespace host {

class ScreenFrameSink : public FrameSink {
  public:
    explicit ScreenFrameSink(bool drawsTextures) : drawsTextures_(drawsTextures) {}

    Needs needs() const override { return Needs{!drawsTextures_, {}}; }
    void framePresented(const PresentedFrame& frame) override {
        if (!drawsTextures_)
            return;
        std::lock_guard lock(mutex_);
        if (frame.sequence > frame_.sequence)
            frame_ = frame;
    }
    void framePixels(const FramePixels& pixels) override {
        std::lock_guard lock(mutex_);
        pixels_ = pixels;
    }

    bool drawsTextures() const { return drawsTextures_; }
    PresentedFrame frame() const {
        std::lock_guard lock(mutex_);
        return frame_;
    }
    FramePixels pixels() const {
        std::lock_guard lock(mutex_);
        return pixels_;
    }

  private:
    const bool drawsTextures_;
    mutable std::mutex mutex_;
    PresentedFrame frame_;
    FramePixels pixels_;
};

} // namespace host
