#pragma once
// Consumers of the pipeline's output. Every consumer of processed frames (the screen, the
// shutter and captures, the statistics, an encoder, a loopback writer, a network view)
// registers once with the render view as a sink; the render view hands each presented
// frame to every sink as a GPU picture, and reads its pixels back to the CPU only when a
// sink asks for them: at most once per frame however many ask, asynchronously (a pixel
// pack buffer with a fence, collected a frame later), so the GPU queue never waits.
//
// Threads: both calls arrive on the GPU queue and must return at once; a sink with slow
// work hands the frame to a thread of its own and drops frames while that is busy.
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "pipeline/GPUFence.h"
#include "pipeline/ImagePipeline.h"

// A processed frame as the render view presents it.
struct PresentedFrame {
    uint64_t sequence = 0; // counts frames presented, from 1
    int width = 0, height = 0;
    // When its camera frame reached the camera source (see Framebuffer::captureTime).
    std::chrono::steady_clock::time_point captureTime{};
    // The picture. Its texture name is valid in every context sharing the GPU queue's; wait
    // on `drawn` before sampling it there. Holding the frame keeps the texture from reuse.
    FramebufferRef framebuffer;
    std::shared_ptr<GPUFence> drawn;
};

// How a sink wants a frame's pixels laid out: RGBA bytes, or packed YUYV 4:2:2 (BT.601,
// limited range: Y0 U Y1 V for each pair of pixels), converted on the GPU for sinks that
// hand frames to video programs.
enum class PixelLayout { rgba, yuyv };

// The pixels of a presented frame, read back: first row first, tightly packed, in `rgba`
// or, for a sink that asked for YUYV, in `yuyv` (its width then even, the odd last column
// left out). The bytes come from the frame pool and go back to it when the last holder
// drops them.
struct FramePixels {
    uint64_t sequence = 0;
    int width = 0, height = 0;
    std::chrono::steady_clock::time_point captureTime{};
    std::shared_ptr<const std::vector<uint8_t>> rgba;
    std::shared_ptr<const std::vector<uint8_t>> yuyv;
};

class FrameSink {
  public:
    virtual ~FrameSink() = default;

    // Asked on the GPU queue at each presented frame: whether this sink wants the frame's
    // pixels, and no more often than every `pixelInterval` (zero: every frame).
    // Sinks asking for one layout share one read-back a frame; YUYV sinks get no frame
    // between frames (sinkNeedsChanged serves RGBA sinks only).
    struct Needs {
        bool pixels = false;
        std::chrono::steady_clock::duration pixelInterval{};
        PixelLayout layout = PixelLayout::rgba;
    };
    virtual Needs needs() const { return {}; }

    // GPU queue: every presented frame, and the current one when the sink is added.
    virtual void framePresented(const PresentedFrame& /*frame*/) {}
    // GPU queue: a frame's pixels, when needs() asked for them.
    virtual void framePixels(const FramePixels& /*pixels*/) {}
};
