// The camera's capture thread: delegate first, then hand-over or drop, never a queue.
#include "PipelineTestSupport.h"

using namespace pipelinetest;

namespace {
const int width = 16, height = 12;
Image frame(uint8_t value) {
    return Image::make(width, height, [&](int x, int y) {
        return Pixel{value, uint8_t(x), uint8_t(y), 255};
    });
}

class FrameDelegate : public CameraDelegate {
  public:
    std::function<void(const CMSampleBufferRef&)> onFrame;
    void didCaptureBuffer(const CMSampleBufferRef& sample) override { onFrame(sample); }
};

// Produced, dropped because the GPU was busy, processed.
std::vector<uint64_t> counts(const Camera& camera) {
    CameraStatistics s = camera.statistics();
    return {s.produced, s.droppedGpuBusy, s.processed};
}
} // namespace

class CameraTest : public GLTest {
  protected:
    void TearDown() override { camera->stopCapture(); }
    std::shared_ptr<FakeCaptureDevice> device = std::make_shared<FakeCaptureDevice>();
    std::shared_ptr<Camera> camera = cameraOn(device);
    std::shared_ptr<FrameDelegate> delegate = std::make_shared<FrameDelegate>();
};

TEST_F(CameraTest, DropsFramesWhileTheGPUIsBusyInsteadOfQueueingThem) {
    auto view = std::make_shared<HeldView>();
    std::static_pointer_cast<ImageSource>(camera) >> view;
    camera->startCapture();

    ASSERT_TRUE(device->push(frame(1).sample(1)));
    view->entered.wait(); // frame 1 is on the GPU, held there
    for (uint8_t i = 2; i <= 5; ++i)
        ASSERT_TRUE(device->push(frame(i).sample(i)));
    for (int i = 0; i < 6; ++i)
        view->gate.signal(); // enough for every frame, were they queued
    drainGPU();
    EXPECT_EQ(shownImage(*view).rgba, frame(1).rgba);
    EXPECT_EQ(view->presentedFrame().sequence, 1u);

    ASSERT_TRUE(device->push(frame(6).sample(6)));
    drainGPU();
    EXPECT_EQ(shownImage(*view).rgba, frame(6).rgba);
    EXPECT_EQ(view->presentedFrame().sequence, 2u);

    EXPECT_EQ(counts(*camera), (std::vector<uint64_t>{6, 4, 2}));
}

TEST_F(CameraTest, LinesDrawnByTheDelegateApplyToTheFrameTheyWereDrawnFor) {
    auto lines = std::make_shared<LineGenerator>(Size{float(width), float(height)});
    lines->setLineColor(Color{1, 1, 0, 1});
    // Frame n gets a line on row n, drawn on the capture thread.
    delegate->onFrame = [&](const CMSampleBufferRef& sample) {
        EXPECT_FALSE(DispatchQueue::isMainThread());
        float y = float(sample->frameNumber) * 2.0f / height - 1.0f;
        lines->renderLines({Line::segment(Position(-1, y), Position(1, y))});
    };
    camera->setDelegate(delegate);
    auto blend = std::make_shared<AlphaBlend>();
    auto view = std::make_shared<RenderView>();
    std::static_pointer_cast<ImageSource>(camera) >> blend;
    std::static_pointer_cast<ImageSource>(lines) >> blend;
    std::static_pointer_cast<ImageSource>(blend) >> view;
    camera->startCapture();
    for (uint64_t n = 1; n <= 3; ++n) {
        ASSERT_TRUE(device->push(frame(40).sample(n)));
        drainGPU();
        EXPECT_EQ(shownImage(*view).rgba, withLineOnRow(frame(40), int(n)).rgba) << "frame " << n;
    }
}

TEST_F(CameraTest, StopCaptureOnlySignalsAndStartCaptureTwiceIsHarmless) {
    auto view = std::make_shared<RenderView>();
    std::static_pointer_cast<ImageSource>(camera) >> view;
    DispatchSemaphore entered(0), release(0);
    delegate->onFrame = [&](const CMSampleBufferRef&) {
        entered.signal();
        release.wait(); // as a delegate waiting for the main queue would
    };
    camera->setDelegate(delegate);
    camera->startCapture();
    camera->startCapture();
    EXPECT_EQ(device->starts(), 1);

    device->pushAsync(frame(9).sample());
    entered.wait();
    camera->stopCapture(); // returns with the delegate still blocked
    EXPECT_FALSE(camera->isCapturing());
    release.signal();
    device->drain();
    drainGPU();
    EXPECT_FALSE(device->push(frame(9).sample()));
    // A frame that finds capture stopped is not handed over.
    EXPECT_EQ(counts(*camera), (std::vector<uint64_t>{1, 0, 0}));
    EXPECT_EQ(view->presentedFrame().sequence, 0u);

    camera->startCapture();
    EXPECT_EQ(device->starts(), 2);
}
