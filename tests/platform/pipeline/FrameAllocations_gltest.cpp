// Heap allocations on the way from a camera to the GPU in steady state, counted by a
// replacement operator new on the device's frame thread only: from one frame's delegate
// call to the next, that thread hands the frame to the GPU queue, takes the next buffer
// from the camera, decodes or renders it and wraps it for the camera source. The delegate
// is the application's analysis, which makes its own objects for every frame, so here it
// only counts.
#include "PipelineTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <future>
#include <new>

#include "capture/v4l2/V4L2CaptureDevice.h"
#include "capture/virtual/VirtualCaptureDevice.h"
#include "support/EmulatedWebcam.h"

// GCC pairs the replacement's free() with the new-expressions it inlines into, and calls it
// a mismatch; the replacements below are the pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local bool countedThread = false;
std::atomic<uint64_t> allocations{0};
} // namespace

void* operator new(size_t size) {
    allocations += countedThread ? 1 : 0;
    void* memory = std::malloc(size ? size : 1);
    return memory ? memory : throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, size_t) noexcept {
    std::free(memory);
}

namespace {
// Windows of frames, the first a warm-up. The pools grow to the most frames ever in
// flight at once, which a busy machine may reach late: the steady state is the first
// window without an allocation, and a cost per frame shows in every window.
constexpr uint64_t window = 100, windows = 6;

// Called on the frame thread only, one frame at a time.
class CountingDelegate : public CameraDelegate {
  public:
    void didCaptureBuffer(const CMSampleBufferRef&) override {
        countedThread = true;
        if (++frames_ % window != 0 || finished_)
            return;
        fewest_ = frames_ > window ? std::min(fewest_, allocations - windowStart_) : fewest_;
        windowStart_ = allocations;
        if ((finished_ = fewest_ == 0 || frames_ >= window * windows))
            perFrame.set_value(double(fewest_) / window);
    }
    std::promise<double> perFrame;
    uint64_t frames_ = 0, windowStart_ = 0, fewest_ = UINT64_MAX;
    bool finished_ = false;
};

double allocationsPerFrame(const std::shared_ptr<AVCaptureDevice>& device) {
    EXPECT_TRUE(GPUContext::initialize(nullptr));
    auto camera = std::make_shared<Camera>(device);
    auto delegate = std::make_shared<CountingDelegate>();
    auto perFrame = delegate->perFrame.get_future();
    camera->setDelegate(delegate);
    camera->startCapture();
    return perFrame.get();
}

TEST(FrameAllocations, NoneFromTheVirtualCameraToTheGpu) {
    // Small and as fast as it renders: the path is the same at any size.
    auto device = std::make_shared<VirtualCaptureDevice>(PictureSize{160, 120});
    device->setUnlimitedFrameRate(true);
    // Held still, as the screen holds it from its start: a lens on the move makes the scene
    // blur its layers anew, which is a change of scene, not a frame.
    ASSERT_TRUE(device->lockForConfiguration(nullptr));
    device->setFocusModeLockedWithLensPosition(0.3f, nullptr);
    device->unlockForConfiguration();
    EXPECT_EQ(allocationsPerFrame(device), 0.0);
}

// The webcam runs in a child of this test with the emulator preloaded in place of V4L2.
TEST(FrameAllocations, NoneFromTheMjpegWebcamToTheGpu) {
    if (!std::getenv("FERNHOLD_EMULATED_DEV")) {
        webcamtest::EmulatedWebcam webcam;
        webcam.ctl("create video0 --formats MJPG");
        // Built up piece by piece: GCC 12 at -O3 misreads `"'" + std::string` as an
        // overlapping copy (-Wrestrict).
        std::string command = "'";
        command += std::filesystem::read_symlink("/proc/self/exe").string();
        command += "' --gtest_filter=FrameAllocations.NoneFromTheMjpeg*";
        auto out = webcam.run(command).second;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
        return;
    }
    NSError error;
    auto device = V4L2CaptureDevice::open(openV4L2Device("/dev/video0", &error), "/dev/video0", &error);
    ASSERT_TRUE(device) << error.localizedDescription();
    EXPECT_EQ(allocationsPerFrame(device), 0.0);
}
} // namespace
