// Heap allocations on the way from a camera to the GPU, counted by a replacement operator
// new on the device's frame thread only: from one frame's delegate call to the next, that
// thread hands the frame to the GPU queue, takes the next buffer from the camera, decodes
// or renders it and wraps it for the camera source. The delegate is the application's
// analysis, which makes its own objects for every frame, so here it only counts.
#include "PipelineTestSupport.h"

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "capture/v4l2/V4L2CaptureDevice.h"
#include "capture/virtual/VirtualCaptureDevice.h"
#include "support/EmulatedWebcam.h"

// GCC pairs the replacement's free() with the new-expressions it inlines into, and calls it
// a mismatch; the replacements below are the pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
thread_local bool countedThread = false;
std::atomic<uint64_t> allocations{0};
} // namespace

void* operator new(size_t size) {
    if (countedThread)
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, size_t) noexcept {
    std::free(memory);
}

namespace {
constexpr int warmUpFrames = 30, countedFrames = 100;

// Counts on the thread that calls it; allocates nothing itself.
class CountingDelegate : public CameraDelegate {
  public:
    void didCaptureBuffer(const CMSampleBufferRef&) override {
        countedThread = true;
        std::lock_guard lock(mutex_);
        if (frames_ == warmUpFrames)
            first_ = allocations.load();
        if (frames_ == warmUpFrames + countedFrames)
            last_ = allocations.load();
        if (++frames_ > warmUpFrames + countedFrames)
            done_.notify_all();
    }
    // Allocations per frame over the counted frames.
    double perFrame() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return frames_ > warmUpFrames + countedFrames; });
        return double(last_ - first_) / countedFrames;
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    int frames_ = 0;
    uint64_t first_ = 0, last_ = 0;
};

double allocationsPerFrame(const std::shared_ptr<AVCaptureDevice>& device) {
    auto camera = std::make_shared<Camera>(device);
    auto delegate = std::make_shared<CountingDelegate>();
    camera->setDelegate(delegate);
    camera->startCapture();
    const double perFrame = delegate->perFrame();
    camera->stopCapture();
    return perFrame;
}

TEST(FrameAllocations, NoneFromTheVirtualCameraToTheGpu) {
    ASSERT_TRUE(GPUContext::initialize(nullptr));
    auto device = std::make_shared<VirtualCaptureDevice>();
    device->setUnlimitedFrameRate(true);
    EXPECT_EQ(allocationsPerFrame(device), 0.0);
}

// The webcam runs in a child of this test with the emulator preloaded in place of V4L2.
TEST(FrameAllocations, NoneFromTheMjpegWebcamToTheGpu) {
    if (!std::getenv("FERNHOLD_EMULATED_DEV")) {
        webcamtest::EmulatedWebcam webcam;
        webcam.ctl("create video0 --formats MJPG");
        const std::string self = std::filesystem::read_symlink("/proc/self/exe");
        auto [status, out] = webcam.run("'" + self + "' --gtest_filter=FrameAllocations.NoneFromTheMjpegWebcamToTheGpu");
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
        return;
    }
    ASSERT_TRUE(GPUContext::initialize(nullptr));
    NSError error;
    auto io = openV4L2Device("/dev/video0", &error);
    ASSERT_TRUE(io) << error.localizedDescription();
    auto device = V4L2CaptureDevice::open(std::move(io), "/dev/video0", &error);
    ASSERT_TRUE(device) << error.localizedDescription();
    EXPECT_EQ(allocationsPerFrame(device), 0.0);
}
} // namespace
