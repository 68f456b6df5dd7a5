// Frame analysis speed on 640 x 480 frames, beside the OpenCV calls a user would reach
// for instead (when OpenCV is available).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "BenchScene.h"
#include "analysis/Luminosity.h"
#include "analysis/Scopes.h"
#include "camera/CameraViewController.h"
#include "dispatch/ConcurrentPerform.h"
#include "dispatch/DispatchQueue.h"

#ifdef FERNHOLD_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int W = 640, H = 480;

// A textured dark-to-mid scene with a few bright lights.
std::shared_ptr<std::vector<uint8_t>> sceneWithLights() {
    auto bytes = std::make_shared<std::vector<uint8_t>>(size_t(W) * H * 4);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(0, 40);
    const int lights[3][3] = {{120, 100, 9}, {400, 260, 12}, {560, 80, 7}};
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t* p = bytes->data() + (size_t(y) * W + size_t(x)) * 4;
            int base = 40 + ((x / 32 + y / 32) % 2) * 50 + noise(random);
            p[0] = uint8_t(base);
            p[1] = uint8_t(base * 3 / 4);
            p[2] = uint8_t(base / 2);
            p[3] = 255;
            for (auto& l : lights)
                if ((x - l[0]) * (x - l[0]) + (y - l[1]) * (y - l[1]) <= l[2] * l[2])
                    p[0] = p[1] = p[2] = 250;
        }
    return bytes;
}

std::shared_ptr<std::vector<uint8_t>> uniform(uint8_t value) {
    return std::make_shared<std::vector<uint8_t>>(size_t(W) * H * 4, value);
}

std::shared_ptr<std::vector<uint8_t>> spotGrid() {
    auto bytes = uniform(0);
    for (int y = 5; y < H; y += 21)
        for (int x = 5; x < W; x += 21) {
            uint8_t* p = bytes->data() + (size_t(y) * W + size_t(x)) * 4;
            p[0] = p[1] = p[2] = 255;
        }
    return bytes;
}

CGImageRef bitmapOf(const std::shared_ptr<std::vector<uint8_t>>& bytes) {
    return CGImageCreate(W, H, 32, W * 4, bytes);
}

std::shared_ptr<CameraViewController> controller() {
    static auto c = std::make_shared<CameraViewController>(NSCoder("bench"));
    return c;
}
} // namespace

static void BM_measureLuminosity(benchmark::State& state) {
    auto pixels = std::make_shared<CVPixelBuffer>(W, H, W * 4, sceneWithLights());
    UIImage image(std::make_shared<const CIImage>(pixels), 1.0, UIImageOrientation::right);
    for (auto _ : state)
        benchmark::DoNotOptimize(controller()->measureLuminosity(image, nullptr));
    state.SetBytesProcessed(int64_t(state.iterations()) * W * H * 4);
}
BENCHMARK(BM_measureLuminosity)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One frame's analysis as the frame callback runs it, at each picture size: the bitmap,
// the 8-band maximum, then the bright boxes (the line drawing is the GPU's, timed with the
// graphs).
static void BM_FrameAnalysis(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    auto bytes = std::make_shared<const std::vector<uint8_t>>(bench::makeScene(width, height));
    auto pixels = std::make_shared<CVPixelBuffer>(width, height, size_t(width) * 4, bytes);
    UIImage image(std::make_shared<const CIImage>(pixels), 1.0, UIImageOrientation::right);
    size_t boxes = 0;
    auto regions = [&](CGImageRef bitmap, double maximum) {
        boxes = controller()->findBrightBoxes(bitmap, maximum).size();
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(controller()->measureLuminosity(image, regions));
    state.counters["boxes"] = double(boxes);
}
BENCHMARK(BM_FrameAnalysis)->Apply(bench::atPictureSizes)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same without the bright boxes: what the bitmap and the 8-band maximum cost alone.
static void BM_FrameMaximum(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    auto bytes = std::make_shared<const std::vector<uint8_t>>(bench::makeScene(width, height));
    auto pixels = std::make_shared<CVPixelBuffer>(width, height, size_t(width) * 4, bytes);
    UIImage image(std::make_shared<const CIImage>(pixels), 1.0, UIImageOrientation::right);
    for (auto _ : state)
        benchmark::DoNotOptimize(controller()->measureLuminosity(image, nullptr));
}
BENCHMARK(BM_FrameMaximum)->Apply(bench::atPictureSizes)->Unit(benchmark::kMicrosecond)->UseRealTime();

static void BM_luminosityScanOneThread(benchmark::State& state) {
    auto bytes = sceneWithLights();
    BitmapLayout layout{W, H, 4, W * 4, bytes->size()};
    for (auto _ : state)
        benchmark::DoNotOptimize(maxLuminosityOfRows(bytes->data(), layout, 0, H));
    state.SetBytesProcessed(int64_t(state.iterations()) * W * H * 4);
}
BENCHMARK(BM_luminosityScanOneThread)->Unit(benchmark::kMicrosecond);

// The meter's scan split into N bands on the worker pool, as measureLuminosity splits it
// into 8, without the bitmap wrapping around it: how the bands scale on this machine.
static void BM_luminosityBands(benchmark::State& state) {
    auto bytes = sceneWithLights();
    BitmapLayout layout{W, H, 4, W * 4, bytes->size()};
    const size_t bands = size_t(state.range(0));
    for (auto _ : state) {
        std::vector<float> maxima(bands);
        concurrentPerform(bands, [&](size_t band) {
            size_t first = band * (H / bands), end = band + 1 == bands ? H : first + H / bands;
            maxima[band] = maxLuminosityOfRows(bytes->data(), layout, first, end);
        });
        benchmark::DoNotOptimize(maxima.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * W * H * 4);
}
BENCHMARK(BM_luminosityBands)->Arg(1)->Arg(2)->Arg(8)->Unit(benchmark::kMicrosecond)->UseRealTime();

// An empty batch on the pool: what handing work to the band workers costs by itself.
static void BM_concurrentPerformEmpty(benchmark::State& state) {
    for (auto _ : state)
        concurrentPerform(8, [](size_t band) { benchmark::DoNotOptimize(band); });
}
BENCHMARK(BM_concurrentPerformEmpty)->Unit(benchmark::kMicrosecond)->UseRealTime();

static void BM_histogramAndClips(benchmark::State& state) {
    auto bytes = sceneWithLights();
    BitmapLayout layout{W, H, 4, W * 4, bytes->size()};
    for (auto _ : state) {
        ExposureHistogram histogram;
        accumulateHistogram(bytes->data(), layout, false, histogram);
        benchmark::DoNotOptimize(histogram.clippedHighShare() + histogram.clippedLowShare());
        benchmark::DoNotOptimize(histogram.luma.data());
    }
}
BENCHMARK(BM_histogramAndClips)->Unit(benchmark::kMicrosecond)->UseRealTime();

static void BM_histogramColour(benchmark::State& state) {
    auto bytes = sceneWithLights();
    BitmapLayout layout{W, H, 4, W * 4, bytes->size()};
    for (auto _ : state) {
        ExposureHistogram histogram;
        accumulateHistogram(bytes->data(), layout, true, histogram);
        benchmark::DoNotOptimize(histogram.blue.data());
    }
}
BENCHMARK(BM_histogramColour)->Unit(benchmark::kMicrosecond)->UseRealTime();

static void BM_waveform(benchmark::State& state) {
    auto bytes = sceneWithLights();
    BitmapLayout layout{W, H, 4, W * 4, bytes->size()};
    for (auto _ : state)
        benchmark::DoNotOptimize(measureWaveform(bytes->data(), layout, waveformColumns).counts.data());
}
BENCHMARK(BM_waveform)->Unit(benchmark::kMicrosecond)->UseRealTime();

static void BM_findBrightBoxes_lights(benchmark::State& state) {
    auto image = bitmapOf(sceneWithLights());
    size_t boxes = 0;
    for (auto _ : state)
        boxes = controller()->findBrightBoxes(image, 250.0).size();
    state.counters["boxes"] = double(boxes);
}
BENCHMARK(BM_findBrightBoxes_lights)->Unit(benchmark::kMicrosecond);

static void BM_findBrightBoxes_white(benchmark::State& state) {
    auto image = bitmapOf(uniform(255));
    size_t boxes = 0;
    for (auto _ : state)
        boxes = controller()->findBrightBoxes(image, 255.0).size();
    state.counters["boxes"] = double(boxes);
}
BENCHMARK(BM_findBrightBoxes_white)->Unit(benchmark::kMicrosecond);

static void BM_findBrightBoxes_spotGrid(benchmark::State& state) {
    auto image = bitmapOf(spotGrid());
    size_t boxes = 0;
    for (auto _ : state)
        boxes = controller()->findBrightBoxes(image, 255.0).size();
    state.counters["boxes"] = double(boxes);
}
BENCHMARK(BM_findBrightBoxes_spotGrid)->Unit(benchmark::kMicrosecond);

#ifdef FERNHOLD_HAVE_OPENCV
static void BM_OpenCV_cvtColor_minMaxLoc(benchmark::State& state) {
    auto bytes = sceneWithLights();
    cv::Mat rgba(H, W, CV_8UC4, bytes->data());
    cv::Mat grey;
    for (auto _ : state) {
        cv::cvtColor(rgba, grey, cv::COLOR_RGBA2GRAY);
        double minValue, maxValue;
        cv::minMaxLoc(grey, &minValue, &maxValue);
        benchmark::DoNotOptimize(maxValue);
    }
}
BENCHMARK(BM_OpenCV_cvtColor_minMaxLoc)->Unit(benchmark::kMicrosecond)->UseRealTime();

static void BM_OpenCV_cvtColor_calcHist(benchmark::State& state) {
    auto bytes = sceneWithLights();
    cv::Mat rgba(H, W, CV_8UC4, bytes->data());
    cv::Mat grey, histogram;
    const int channels[] = {0}, bins[] = {256};
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    for (auto _ : state) {
        cv::cvtColor(rgba, grey, cv::COLOR_RGBA2GRAY);
        cv::calcHist(&grey, 1, channels, cv::Mat(), histogram, 1, bins, ranges);
        benchmark::DoNotOptimize(histogram.data);
    }
}
BENCHMARK(BM_OpenCV_cvtColor_calcHist)->Unit(benchmark::kMicrosecond)->UseRealTime();

static void BM_OpenCV_threshold_dilate_components(benchmark::State& state) {
    auto bytes = sceneWithLights();
    cv::Mat rgba(H, W, CV_8UC4, bytes->data());
    cv::Mat grey, mask, dilated, labels, stats, centroids;
    cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(21, 21));
    int components = 0;
    for (auto _ : state) {
        cv::cvtColor(rgba, grey, cv::COLOR_RGBA2GRAY);
        cv::threshold(grey, mask, 250 * 0.75, 255, cv::THRESH_BINARY);
        cv::dilate(mask, dilated, kernel);
        components = cv::connectedComponentsWithStats(dilated, labels, stats, centroids);
    }
    state.counters["boxes"] = double(components - 1);
}
BENCHMARK(BM_OpenCV_threshold_dilate_components)->Unit(benchmark::kMicrosecond)->UseRealTime();
#endif

int main(int argc, char** argv) {
    DispatchQueue::markMainThread();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
