// GPU time per frame of each of the camera screen's graphs: a frame enters through the
// real Camera (upload on the GPU queue), runs the graph and reaches the render view, which
// reads nothing back (no sink asks); one iteration is one frame, from hand-over until the
// GPU queue has finished it.
//
// GCC 12 reports make_shared of pipeline nodes (enable_shared_from_this in a virtual base)
// as an out-of-bounds access when it inlines several into one function, a known false
// positive; the pragma goes before the standard headers, where the warning is raised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>

#include "BenchScene.h"
#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "pipeline/GPUContext.h"
#include "pipeline/Operations.h"

namespace {

// A device whose frames the benchmark delivers itself: the benchmark's thread stands in
// for the frame thread.
class BenchDevice : public AVCaptureDevice {
  public:
    BenchDevice() : AVCaptureDevice(AVCaptureDeviceFormat{}) {}
    std::string localizedName() const override { return "Benchmark Camera"; }
    bool isFocusModeSupported(AVCaptureFocusMode) const override { return false; }
    bool isLockingFocusWithCustomLensPositionSupported() const override { return false; }
    bool isExposureModeSupported(AVCaptureExposureMode) const override { return false; }
    bool startStreaming(FrameHandler handler, NSError*) override {
        handler_ = std::move(handler);
        return true;
    }
    void stopStreaming() override { handler_ = nullptr; }
    bool isStreaming() const override { return bool(handler_); }
    void deliver(const CMSampleBufferRef& sample) { handler_(sample); }

  protected:
    void runOnDeviceThread(std::function<void()> work) override { work(); }

  private:
    FrameHandler handler_;
};

CMSampleBufferRef sceneSample(int width, int height) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(bench::makeScene(width, height));
    auto pixels = std::make_shared<CVPixelBuffer>(width, height, size_t(width) * 4, bytes);
    return std::make_shared<const CMSampleBuffer>(CMSampleBuffer{pixels, CMTime{1, 30}, 1});
}

// The outlines the plain filter draws: four boxes, sixteen segments.
std::vector<Line> outlines(int width, int height) {
    std::vector<Line> lines;
    auto nx = [&](float x) { return x * 2.0f / float(width) - 1.0f; };
    auto ny = [&](float y) { return y * 2.0f / float(height) - 1.0f; };
    for (int i = 0; i < 4; ++i) {
        float x0 = nx(40.0f + 140.0f * float(i)), x1 = nx(140.0f + 140.0f * float(i));
        float y0 = ny(60.0f + 80.0f * float(i)), y1 = ny(160.0f + 80.0f * float(i));
        lines.push_back(Line::segment(Position(x0, y0), Position(x1, y0)));
        lines.push_back(Line::segment(Position(x1, y0), Position(x1, y1)));
        lines.push_back(Line::segment(Position(x1, y1), Position(x0, y1)));
        lines.push_back(Line::segment(Position(x0, y1), Position(x0, y0)));
    }
    return lines;
}

// operation null: the plain graph, camera -> blend (+ lines) -> view, lines redrawn per
// frame as the app does. The picture is state.range(0) x state.range(1).
void runGraph(benchmark::State& state,
              const std::function<std::shared_ptr<BasicOperation>()>& makeOperation) {
    const int width = int(state.range(0)), height = int(state.range(1));
    auto device = std::make_shared<BenchDevice>();
    auto camera = Camera::make(AVCaptureSessionPreset640x480, device, PhysicalCameraLocation::backFacing,
                               std::nullopt, false, nullptr);
    auto view = std::make_shared<RenderView>();
    std::shared_ptr<LineGenerator> lines;
    std::shared_ptr<ImageSource> source = camera;
    if (auto operation = makeOperation ? makeOperation() : nullptr) {
        (source >> operation) >> view;
    } else {
        auto blend = std::make_shared<AlphaBlend>();
        lines = std::make_shared<LineGenerator>(Size{float(width), float(height)});
        lines->setLineWidth(3);
        lines->setLineColor(Color{1, 1, 0, 1});
        source >> blend;
        std::static_pointer_cast<ImageSource>(lines) >> blend;
        std::static_pointer_cast<ImageSource>(blend) >> view;
    }
    camera->startCapture();
    const std::vector<Line> boxes = outlines(width, height);
    const CMSampleBufferRef sample = sceneSample(width, height);
    GPUContext& gpu = GPUContext::shared();
    for (auto _ : state) {
        if (lines)
            lines->renderLines(boxes);
        device->deliver(sample);
        gpu.runSync([] {}); // the frame's GPU work, queued before this, is done
    }
    camera->stopCapture();
    CameraStatistics statistics = camera->statistics();
    if (statistics.droppedGpuBusy != 0 || view->presentedFrame().sequence != uint64_t(state.iterations()))
        state.SkipWithError("not every frame reached the view");
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

template <typename Operation> std::shared_ptr<BasicOperation> make() {
    return std::make_shared<Operation>();
}

void BM_GPU_Plain(benchmark::State& state) {
    runGraph(state, nullptr);
}
void BM_GPU_Canny(benchmark::State& state) {
    runGraph(state, make<CannyEdgeDetection>);
}
void BM_GPU_Sobel(benchmark::State& state) {
    runGraph(state, make<SobelEdgeDetection>);
}
void BM_GPU_ColorInversion(benchmark::State& state) {
    runGraph(state, make<ColorInversion>);
}
void BM_GPU_FalseColor(benchmark::State& state) {
    runGraph(state, make<FalseColor>);
}
void BM_GPU_Luminance(benchmark::State& state) {
    runGraph(state, make<Luminance>);
}

} // namespace

// The GPU queue works while this thread waits, so wall time is the measure; each graph at
// each picture size.
BENCHMARK(BM_GPU_Plain)->Apply(bench::atPictureSizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GPU_Canny)->Apply(bench::atPictureSizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GPU_Sobel)->Apply(bench::atPictureSizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GPU_ColorInversion)->Apply(bench::atPictureSizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GPU_FalseColor)->Apply(bench::atPictureSizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GPU_Luminance)->Apply(bench::atPictureSizes)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    DispatchQueue::markMainThread();
    NSError error;
    if (!GPUContext::initialize(&error)) {
        foundation::logError("pipeline_bench: " + error.localizedDescription());
        return 1;
    }
    benchmark::AddCustomContext("gl", GPUContext::shared().description());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
