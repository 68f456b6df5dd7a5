// The render view's sinks: every sink sees every frame, and pixels come back from the GPU
// only for sinks that ask, once per frame however many ask.
#include "PipelineTestSupport.h"

using namespace pipelinetest;

namespace {

Image numbered(int n) {
    return Image::make(24, 16, [n](int x, int y) {
        return Pixel{uint8_t(n * 13), uint8_t(x * 9), uint8_t(y * 11), 255};
    });
}

// Counts the frames it is shown, without asking for pixels, as the frame counter does.
class PresentationCount : public FrameSink {
  public:
    void framePresented(const PresentedFrame& frame) override {
        std::lock_guard lock(mutex);
        sequences.push_back(frame.sequence);
        textured += frame.framebuffer && frame.drawn ? 1 : 0;
    }
    std::mutex mutex;
    std::vector<uint64_t> sequences;
    int textured = 0;
};

// Wants pixels no more often than once an hour: the first frame only.
class HourlySink : public EveryFrameSink {
  public:
    using EveryFrameSink::EveryFrameSink;
    Needs needs() const override { return Needs{true, std::chrono::hours(1)}; }
};

using FrameSinks = GLTest;

TEST_F(FrameSinks, PixelsComeBackOnlyWhenAskedAndOncePerFrameHoweverManyAsk) {
    auto input = std::make_shared<ImageInput>();
    auto view = std::make_shared<RenderView>();
    std::static_pointer_cast<ImageSource>(input) >> view;
    EXPECT_EQ(shownImage(*view).rgba.size(), 0u) << "nothing to grab before the first frame";

    auto counter = std::make_shared<PresentationCount>();
    view->addSink(counter);
    for (int n = 1; n <= 4; ++n)
        input->push(numbered(n));
    drainGPU();
    EXPECT_EQ(view->readBackCount(), 0u) << "a sink that wants no pixels costs no read-back";

    std::vector<std::vector<uint64_t>> seen(2);
    std::vector<Image> last(2);
    auto sinkFor = [&](size_t i) {
        return std::make_shared<EveryFrameSink>([&, i](const FramePixels& pixels) {
            seen[i].push_back(pixels.sequence);
            last[i] = imageOf(pixels);
        });
    };
    auto first = sinkFor(0), second = sinkFor(1);
    std::vector<uint64_t> hourly;
    auto rare =
        std::make_shared<HourlySink>([&](const FramePixels& pixels) { hourly.push_back(pixels.sequence); });
    view->addSink(first);
    view->addSink(second);
    view->addSink(rare);
    for (int n = 5; n <= 9; ++n)
        input->push(numbered(n));
    first->waitFor(9);
    second->waitFor(9);
    EXPECT_EQ(view->readBackCount(), 5u) << "three sinks ask; each frame is read once";
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(seen[i], (std::vector<uint64_t>{5, 6, 7, 8, 9})) << "sink " << i;
        EXPECT_EQ(last[i].rgba, numbered(9).rgba) << "sink " << i;
    }
    EXPECT_EQ(hourly, std::vector<uint64_t>{5});

    // A grab once the camera has stopped gets the frame shown now, already read.
    EXPECT_EQ(shownImage(*view).rgba, numbered(9).rgba);
    EXPECT_EQ(view->readBackCount(), 5u);

    // Gone sinks are left out; the counter saw every frame, each with its texture.
    first.reset();
    second.reset();
    rare.reset();
    input->push(numbered(10));
    drainGPU();
    EXPECT_EQ(view->readBackCount(), 5u);
    EXPECT_EQ(shownImage(*view).rgba, numbered(10).rgba) << "the grab reads the frame not read before";
    EXPECT_EQ(view->readBackCount(), 6u);
    std::lock_guard lock(counter->mutex);
    EXPECT_EQ(counter->sequences, (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(counter->textured, 10);
}

} // namespace
