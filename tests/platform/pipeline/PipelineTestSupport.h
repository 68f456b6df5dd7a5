#pragma once
// What the pipeline tests share: CPU images, a source that uploads them as the camera
// does, a capture device the test feeds by hand, and a way to run one image through one
// operation and read the result back.
//
// Include this first: GCC 12 misreads make_shared of a class whose enable_shared_from_this
// sits in a virtual base (every pipeline node) as an out-of-bounds access when it inlines
// it into a long test body (-Warray-bounds, a known false positive), and the pragma must
// come before the standard headers to cover them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/AVCaptureDevice.h"
#include "dispatch/DispatchQueue.h"
#include "dispatch/DispatchSemaphore.h"
#include "pipeline/FrameGrab.h"
#include "pipeline/Framebuffer.h"
#include "pipeline/GPUContext.h"
#include "pipeline/Operations.h"

namespace pipelinetest {

using Pixel = std::array<uint8_t, 4>;

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba; // first row first

    static Image make(int width, int height, const std::function<Pixel(int x, int y)>& pixel) {
        Image image{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 4)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.set(x, y, pixel(x, y));
        return image;
    }
    Pixel at(int x, int y) const {
        const uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    void set(int x, int y, Pixel p) {
        std::copy(p.begin(), p.end(), &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]);
    }
    CMSampleBufferRef sample(uint64_t frameNumber = 1) const {
        auto buffer = std::make_shared<CVPixelBuffer>(width, height, size_t(width) * 4,
                                                      std::make_shared<const std::vector<uint8_t>>(rgba));
        return std::make_shared<const CMSampleBuffer>(
            CMSampleBuffer{buffer, CMTime{int64_t(frameNumber), 30}, frameNumber});
    }
};

// `image` with a yellow line along `row`, as a line generator of its size draws one there.
inline Image withLineOnRow(Image image, int row) {
    for (int x = 0; x < image.width; ++x)
        image.set(x, row, Pixel{255, 255, 0, 255});
    return image;
}

inline Image imageOf(const FramePixels& frame) {
    return Image{frame.width, frame.height, frame.rgba ? *frame.rgba : std::vector<uint8_t>{}};
}

// What `view` shows now, read back as the shutter reads it; empty before the first frame.
inline Image shownImage(RenderView& view) {
    auto grab = FrameGrab::attach(view);
    std::promise<FramePixels> read;
    std::future<FramePixels> pixels = read.get_future();
    if (!grab->grab([&read](const FramePixels& frame) { read.set_value(frame); }))
        return Image{};
    return imageOf(pixels.get());
}

// A sink that wants every frame's pixels, as an encoder does, and hands them to `seen`.
class EveryFrameSink : public FrameSink {
  public:
    explicit EveryFrameSink(std::function<void(const FramePixels&)> seen) : seen_(std::move(seen)) {}
    Needs needs() const override { return Needs{true, {}}; }
    void framePixels(const FramePixels& pixels) override {
        seen_(pixels);
        std::lock_guard lock(mutex_);
        last_ = pixels.sequence;
        arrived_.notify_all();
    }
    // Until the pixels of frame `sequence` (or a later one) have come.
    void waitFor(uint64_t sequence) {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [&] { return last_ >= sequence; });
    }

  private:
    std::function<void(const FramePixels&)> seen_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    uint64_t last_ = 0;
};

// A view that holds the GPU queue on every frame until the test lets it go: `entered` is
// signalled as a frame arrives, and each signal of `gate` lets one frame on.
class HeldView : public RenderView {
  public:
    void newFramebufferAvailable(const FramebufferRef& framebuffer, unsigned index) override {
        entered.signal();
        gate.wait();
        RenderView::newFramebufferAvailable(framebuffer, index);
    }
    DispatchSemaphore entered{0}, gate{0};
};

// Hands CPU images to its targets the way the camera does: upload on the GPU queue, then
// update the targets. push() returns when the whole graph has run.
class ImageInput : public ImageSource {
  public:
    void push(const Image& image) {
        GPUContext::shared().runSync([&] {
            FramebufferRef framebuffer = Framebuffer::make(image.width, image.height);
            framebuffer->upload(image.rgba.data(), size_t(image.width) * 4);
            updateTargetsWithFramebuffer(framebuffer);
        });
    }
};

// Waits until everything queued on the GPU so far has run.
inline void drainGPU() {
    GPUContext::shared().runSync([] {});
}

// A capture device whose frames the test pushes; they arrive on its own frame thread.
class FakeCaptureDevice : public AVCaptureDevice {
  public:
    FakeCaptureDevice() : AVCaptureDevice(AVCaptureDeviceFormat{}) {}
    std::string localizedName() const override { return "Fake Camera"; }
    bool isFocusModeSupported(AVCaptureFocusMode) const override { return true; }
    bool isLockingFocusWithCustomLensPositionSupported() const override { return true; }
    bool isExposureModeSupported(AVCaptureExposureMode) const override { return true; }
    bool startStreaming(FrameHandler handler, NSError*) override {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
        ++starts_;
        return true;
    }
    void stopStreaming() override {
        std::lock_guard lock(mutex_);
        handler_ = nullptr;
    }
    bool isStreaming() const override { return bool(handler()); }
    int starts() const { return starts_; }

    // Delivers on the frame thread and returns once the handler has; false when not streaming.
    bool push(const CMSampleBufferRef& sample) {
        bool delivered = false;
        frames_.sync([&] { delivered = deliver(sample); });
        return delivered;
    }
    void pushAsync(const CMSampleBufferRef& sample) {
        frames_.async([this, sample] { deliver(sample); });
    }
    // Returns once every frame pushed so far has been delivered.
    void drain() {
        frames_.sync([] {});
    }

  protected:
    void runOnDeviceThread(std::function<void()> work) override { device_.async(std::move(work)); }

  private:
    FrameHandler handler() const {
        std::lock_guard lock(mutex_);
        return handler_;
    }
    bool deliver(const CMSampleBufferRef& sample) {
        FrameHandler h = handler();
        if (h)
            h(sample);
        return bool(h);
    }
    mutable std::mutex mutex_;
    FrameHandler handler_;
    std::atomic<int> starts_ = 0;
    DispatchQueue device_{"fake.device"}, frames_{"fake.frames"};
};

inline std::shared_ptr<Camera> cameraOn(const std::shared_ptr<FakeCaptureDevice>& device) {
    return Camera::make(AVCaptureSessionPreset640x480, device, PhysicalCameraLocation::backFacing,
                        std::nullopt, false, nullptr);
}

class GLTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        NSError error;
        ASSERT_TRUE(GPUContext::initialize(&error)) << error.localizedDescription();
    }
};

// `input` through `operation` into a render view, read back.
inline Image renderThrough(const std::shared_ptr<BasicOperation>& operation, const Image& input) {
    auto source = std::make_shared<ImageInput>();
    auto view = std::make_shared<RenderView>();
    std::static_pointer_cast<ImageSource>(source) >> operation;
    std::static_pointer_cast<ImageSource>(operation) >> view;
    source->push(input);
    operation->removeAllSources(); // so the operation can be used again
    return shownImage(*view);
}

inline float luminance(Pixel p) {
    return (0.2125f * p[0] + 0.7154f * p[1] + 0.0721f * p[2]) / 255.0f;
}

} // namespace pipelinetest
