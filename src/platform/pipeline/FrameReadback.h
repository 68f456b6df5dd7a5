#pragma once
// Reading presented frames back to the CPU without waiting: each read goes into a pixel
// pack buffer behind a fence, and is collected once the fence has passed (a frame later,
// or on a short timer when no frame follows). A small ring of buffers keeps a few reads in
// flight; the bytes collected go into buffers from the frame pool.
//
// Threads: GPU queue only.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "pipeline/FrameSink.h"

class FrameReadback {
  public:
    // A YUYV read-back reads frames that packYuyv() made: half as wide as the picture,
    // each texel one pair of pixels, handed on as `yuyv` bytes of the picture's width.
    explicit FrameReadback(PixelLayout layout = PixelLayout::rgba) : layout_(layout) {}
    ~FrameReadback();
    FrameReadback(const FrameReadback&) = delete;
    FrameReadback& operator=(const FrameReadback&) = delete;

    // Starts reading `frame`'s picture for `recipients`. When every buffer of the ring is
    // busy, the oldest read is finished first (three frames old, it is long done).
    void start(const PresentedFrame& frame, const std::vector<std::weak_ptr<FrameSink>>& recipients);
    // Adds `recipient` to the read in flight for frame `sequence`; false when there is none.
    bool join(uint64_t sequence, const std::weak_ptr<FrameSink>& recipient);
    // Hands every read whose fence has passed, oldest first, to its recipients; with
    // `wait`, waits for the reads still in flight too.
    void collect(bool wait);
    bool inFlight() const;
    // Whether it made GL buffers, which must then be deleted on the GPU queue.
    bool holdsBuffers() const;

    // The last frame collected (nothing before the first), for sinks that ask for the
    // frame shown now after its read has finished.
    const FramePixels& lastCollected() const { return last_; }

  private:
    struct Read {
        unsigned buffer = 0; // the pixel pack buffer
        size_t size = 0;     // its size in bytes
        std::shared_ptr<GPUFence> done;
        FramePixels pixels; // without bytes until collected
        std::vector<std::weak_ptr<FrameSink>> recipients;
        bool busy = false;
        uint64_t order = 0; // when it was started, to collect in order
    };
    Read* oldestBusy();
    void finish(Read& read);

    PixelLayout layout_;
    std::array<Read, 3> ring_;
    uint64_t started_ = 0;
    FramePixels last_;
};
