// The connection rules, and reconfiguring a live graph the way the camera screen does.
#include "PipelineTestSupport.h"

#include <atomic>
#include <thread>

using namespace pipelinetest;

namespace {
class Feed : public ImageSource {};

std::shared_ptr<ImageSource> src(const std::shared_ptr<ImageSource>& s) {
    return s;
}

// Base image for the graph tests and what each graph makes of it.
const int width = 32, height = 24;
Image base() {
    return Image::make(width, height, [](int x, int y) {
        return Pixel{uint8_t(x * 7), uint8_t(y * 9), 77, 255};
    });
}
Image inverted(const Image& image) {
    Image out = image;
    for (size_t i = 0; i < out.rgba.size(); ++i)
        if (i % 4 != 3)
            out.rgba[i] = uint8_t(255 - out.rgba[i]);
    return out;
}
} // namespace

using ConnectionsTest = GLTest;

TEST_F(ConnectionsTest, ConsumersKeepSourcesAliveAndSourcesDoNotKeepTargets) {
    auto view = std::make_shared<RenderView>();
    auto feed = std::make_shared<Feed>();
    std::weak_ptr<Feed> weakFeed = feed;
    src(feed) >> view;
    feed.reset();
    ASSERT_FALSE(weakFeed.expired()) << "the view holds its source";
    auto source = weakFeed.lock();
    view->reset();
    EXPECT_EQ(view->sources()[0], nullptr);
    EXPECT_EQ(source->targetCount(), 0u) << "reset frees the source's side too";

    src(source) >> view;
    view.reset();
    EXPECT_EQ(source->targetCount(), 0u) << "a target that is gone is not counted";
}

TEST_F(ConnectionsTest, AFrameOnItsWayNeverReachesAConsumerDisconnectedMeanwhile) {
    auto feed = std::make_shared<ImageInput>();
    auto gate = std::make_shared<HeldView>();
    auto view = std::make_shared<RenderView>();
    src(feed) >> gate; // served first: the view's delivery is still to come while it waits
    src(feed) >> view;
    std::thread pusher([&] { feed->push(base()); });
    gate->entered.wait();
    view->reset();
    src(std::make_shared<ImageInput>()) >> view;
    gate->gate.signal();
    pusher.join();
    EXPECT_EQ(view->presentedFrame().sequence, 0u);
}

class GraphTest : public GLTest {
  protected:
    void SetUp() override {
        camera->startCapture();
        lines->setLineWidth(1);
        lines->setLineColor(Color{255, 255, 0, 1});
        lines->renderLines({Line::segment(Position(-1, ny(5)), Position(1, ny(5)))});
    }
    void TearDown() override { camera->stopCapture(); }
    static float ny(int row) { return float(row) * 2.0f / height - 1.0f; }

    // The camera screen's two kinds of configuration.
    void configureNormal() {
        camera->removeAllTargets();
        view->reset();
        src(camera) >> blend;
        src(blend) >> view;
        src(lines) >> blend;
    }
    void configureInversion() {
        camera->removeAllTargets();
        view->reset();
        (src(camera) >> std::make_shared<ColorInversion>()) >> view;
    }
    Image frameThroughGraph() {
        EXPECT_TRUE(device->push(base().sample()));
        drainGPU();
        return shownImage(*view);
    }

    std::shared_ptr<FakeCaptureDevice> device = std::make_shared<FakeCaptureDevice>();
    std::shared_ptr<Camera> camera = cameraOn(device);
    std::shared_ptr<AlphaBlend> blend = std::make_shared<AlphaBlend>();
    std::shared_ptr<LineGenerator> lines = std::make_shared<LineGenerator>(Size{float(width), float(height)});
    std::shared_ptr<RenderView> view = std::make_shared<RenderView>();
};

TEST_F(GraphTest, ReconfiguringWhileFramesFlowShowsOnlyWholeGraphOutputs) {
    const Image normal = withLineOnRow(base(), 5), invertedBase = inverted(base());
    std::atomic<int> strays{0};
    auto everyFrame = std::make_shared<EveryFrameSink>([&](const FramePixels& pixels) {
        if (*pixels.rgba != normal.rgba && *pixels.rgba != invertedBase.rgba)
            ++strays;
    });
    view->addSink(everyFrame);
    std::atomic<bool> running{true};
    std::thread frames([&] {
        while (running.load()) {
            device->pushAsync(base().sample());
            device->drain();
        }
    });
    for (int i = 0; i < 40; ++i)
        i % 2 ? configureInversion() : configureNormal();
    running = false;
    frames.join();
    drainGPU();
    everyFrame->waitFor(view->presentedFrame().sequence);
    EXPECT_EQ(strays.load(), 0);
    EXPECT_EQ(blend->sources(), (std::vector<std::shared_ptr<ImageSource>>{nullptr, lines}));
    EXPECT_EQ(frameThroughGraph().rgba, invertedBase.rgba);
    everyFrame.reset();
    configureNormal(); // and back, whole
    EXPECT_EQ(blend->sources(), (std::vector<std::shared_ptr<ImageSource>>{camera, lines}));
    const uint64_t before = view->presentedFrame().sequence;
    EXPECT_EQ(frameThroughGraph().rgba, normal.rgba);
    EXPECT_EQ(view->presentedFrame().sequence, before + 1) << "one frame, shown once";
}
