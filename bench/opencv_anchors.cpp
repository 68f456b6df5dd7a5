// OpenCV's CPU time for the nearest equivalent of each filter, on the same picture, as
// the anchor the GPU figures are read against. Each starts from the RGBA frame, as the
// graph does, and ends with an 8-bit image; OpenCV uses its default thread count.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "BenchScene.h"

namespace {

const cv::Mat& sceneMat() {
    static const std::vector<uint8_t> rgba = bench::makeScene();
    static const cv::Mat mat(bench::sceneHeight, bench::sceneWidth, CV_8UC4,
                             const_cast<uint8_t*>(rgba.data()));
    return mat;
}

void BM_OpenCV_Canny(benchmark::State& state) {
    cv::Mat grey, blurred, edges;
    for (auto _ : state) {
        cv::cvtColor(sceneMat(), grey, cv::COLOR_RGBA2GRAY);
        cv::GaussianBlur(grey, blurred, cv::Size(5, 5), 2.0 / 3.0);
        // The graph's thresholds (0.1, 0.4 on a 0...1 luminance) in OpenCV's 0...255 units.
        cv::Canny(blurred, edges, 25.5, 102.0, 3, true);
        benchmark::DoNotOptimize(edges.data);
    }
}

void BM_OpenCV_Sobel(benchmark::State& state) {
    cv::Mat grey, gx, gy, magnitude, out;
    for (auto _ : state) {
        cv::cvtColor(sceneMat(), grey, cv::COLOR_RGBA2GRAY);
        cv::Sobel(grey, gx, CV_32F, 1, 0);
        cv::Sobel(grey, gy, CV_32F, 0, 1);
        cv::magnitude(gx, gy, magnitude);
        magnitude.convertTo(out, CV_8U);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_OpenCV_ColorInversion(benchmark::State& state) {
    cv::Mat out;
    for (auto _ : state) {
        cv::bitwise_not(sceneMat(), out);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_OpenCV_FalseColor(benchmark::State& state) {
    cv::Mat grey, out;
    for (auto _ : state) {
        cv::cvtColor(sceneMat(), grey, cv::COLOR_RGBA2GRAY);
        cv::applyColorMap(grey, out, cv::COLORMAP_JET);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_OpenCV_Luminance(benchmark::State& state) {
    cv::Mat grey;
    for (auto _ : state) {
        cv::cvtColor(sceneMat(), grey, cv::COLOR_RGBA2GRAY);
        benchmark::DoNotOptimize(grey.data);
    }
}

} // namespace

BENCHMARK(BM_OpenCV_Canny)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCV_Sobel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCV_ColorInversion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCV_FalseColor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCV_Luminance)->Unit(benchmark::kMillisecond)->UseRealTime();
