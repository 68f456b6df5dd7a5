// What a camera frame costs on one core. The virtual camera's scene with the lens still
// (the usual case), with the lens moving every frame (automatic focus at work), and zoomed
// in. A webcam's 1280 × 720 frame made into the 640 × 480 frame (decoded, scaled to cover,
// centre-cropped, RGBA): MJPEG at quality 85 and YUYV, each beside OpenCV doing the same
// with cv::imdecode or cv::cvtColor, cv::resize (INTER_AREA) and a crop, in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "capture/imaging/CameraFrameDecoder.h"
#include "capture/imaging/FrameScaling.h"
#include "capture/virtual/VirtualScene.h"
#include "support/PictureBytes.h" // the test pictures' JPEG encoder, quality 85 by default

#ifdef FERNHOLD_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int webcamWidth = 1280, webcamHeight = 720, frameWidth = 640, frameHeight = 480;

SensorSettings settingsAt(int frame) {
    SensorSettings s;
    s.exposureSeconds = 1.0 / 30.0;
    s.iso = 200;
    s.lensPosition = 0.5f;
    s.seconds = frame / 30.0;
    s.sequence = uint64_t(frame);
    return s;
}

void BM_VirtualSceneStillLens(benchmark::State& state) {
    VirtualScene scene;
    int frame = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(scene.render(settingsAt(++frame)));
}
BENCHMARK(BM_VirtualSceneStillLens)->Unit(benchmark::kMillisecond);

void BM_VirtualSceneMovingLens(benchmark::State& state) {
    VirtualScene scene;
    int frame = 0;
    for (auto _ : state) {
        SensorSettings s = settingsAt(++frame);
        s.lensPosition = 0.2f + 0.6f * float(frame % 40) / 40.0f;
        benchmark::DoNotOptimize(scene.render(s));
    }
}
BENCHMARK(BM_VirtualSceneMovingLens)->Unit(benchmark::kMillisecond);

void BM_VirtualSceneZoomed(benchmark::State& state) {
    VirtualScene scene;
    int frame = 0;
    for (auto _ : state) {
        SensorSettings s = settingsAt(++frame);
        s.zoomFactor = 3.5;
        benchmark::DoNotOptimize(scene.render(s));
    }
}
BENCHMARK(BM_VirtualSceneZoomed)->Unit(benchmark::kMillisecond);

// A webcam's view: the virtual camera's room widened to 16:9 at twice the size, with
// sensor noise, so the JPEG has the detail of a real frame.
const std::vector<uint8_t>& webcamRgb() {
    static const std::vector<uint8_t> rgb = [] {
        VirtualScene scene;
        std::vector<uint8_t> room(size_t(frameWidth) * frameHeight * 4);
        scene.renderInto(settingsAt(1), room.data(), size_t(frameWidth) * 4);
        std::vector<uint8_t> wide(size_t(webcamWidth) * webcamHeight * 4);
        fitInto(room.data(), frameWidth, frameHeight, size_t(frameWidth) * 4, 4,
                coverCrop(frameWidth, frameHeight, webcamWidth, webcamHeight), wide.data(), webcamWidth,
                webcamHeight, size_t(webcamWidth) * 4);
        std::mt19937 random(3);
        std::uniform_int_distribution<int> noise(-5, 5);
        std::vector<uint8_t> out;
        for (size_t i = 0; i < wide.size(); ++i)
            if (i % 4 != 3)
                out.push_back(uint8_t(std::clamp(wide[i] + noise(random), 0, 255)));
        return out;
    }();
    return rgb;
}

const std::vector<uint8_t>& webcamJpeg() {
    static const std::vector<uint8_t> jpeg = pictures::encodeJpeg(webcamWidth, webcamHeight, webcamRgb());
    return jpeg;
}

// BT.601 limited range, each pair of pixels taking the first one's chroma.
const std::vector<uint8_t>& webcamYuyv() {
    static const std::vector<uint8_t> yuyv = [] {
        const auto& rgb = webcamRgb();
        std::vector<uint8_t> out;
        auto luma = [&](size_t i) {
            return uint8_t((66 * rgb[i] + 129 * rgb[i + 1] + 25 * rgb[i + 2] + 4224) >> 8);
        };
        for (size_t i = 0; i < rgb.size(); i += 6) {
            const int r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
            out.insert(out.end(), {luma(i), uint8_t((-38 * r - 74 * g + 112 * b + 32896) >> 8), luma(i + 3),
                                   uint8_t((112 * r - 94 * g - 18 * b + 32896) >> 8)});
        }
        return out;
    }();
    return yuyv;
}

void BM_WebcamMjpegToFrame(benchmark::State& state) {
    const auto& jpeg = webcamJpeg();
    CameraFrameDecoder decoder;
    std::vector<uint8_t> frame(size_t(frameWidth) * frameHeight * 4);
    std::string reason;
    for (auto _ : state)
        if (!decoder.decodeJpegFrame(jpeg.data(), jpeg.size(), frame.data(), frameWidth, frameHeight,
                                     size_t(frameWidth) * 4, &reason))
            state.SkipWithError(reason.c_str());
    state.counters["jpeg_bytes"] = double(jpeg.size());
}
BENCHMARK(BM_WebcamMjpegToFrame)->Unit(benchmark::kMicrosecond);

void BM_WebcamYuyvToFrame(benchmark::State& state) {
    const auto& yuyv = webcamYuyv();
    CameraFrameDecoder decoder;
    std::vector<uint8_t> frame(size_t(frameWidth) * frameHeight * 4);
    for (auto _ : state) {
        decoder.convertYuyvFrame(yuyv.data(), webcamWidth, webcamHeight, size_t(webcamWidth) * 2,
                                 frame.data(), frameWidth, frameHeight, size_t(frameWidth) * 4);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_WebcamYuyvToFrame)->Unit(benchmark::kMicrosecond);

// At each picture size: the virtual camera's frame with the lens still, and a webcam's
// MJPEG frame of that size (the room rendered at it, with noise) decoded into the picture.
void BM_VirtualSceneAtSize(benchmark::State& state) {
    const PictureSize size{int(state.range(0)), int(state.range(1))};
    VirtualScene scene(size);
    std::vector<uint8_t> frame(size.pixelCount() * 4);
    int n = 0;
    for (auto _ : state)
        scene.renderInto(settingsAt(++n), frame.data(), size_t(size.width) * 4);
}
BENCHMARK(BM_VirtualSceneAtSize)
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->ArgNames({"w", "h"})
    ->Unit(benchmark::kMillisecond);

void BM_WebcamMjpegAtSize(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    VirtualScene scene(PictureSize{width, height});
    std::vector<uint8_t> room(size_t(width) * height * 4);
    scene.renderInto(settingsAt(1), room.data(), size_t(width) * 4);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> noise(-5, 5);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < room.size(); ++i)
        if (i % 4 != 3)
            rgb.push_back(uint8_t(std::clamp(room[i] + noise(random), 0, 255)));
    const std::vector<uint8_t> jpeg = pictures::encodeJpeg(width, height, rgb);
    CameraFrameDecoder decoder;
    std::string reason;
    for (auto _ : state)
        if (!decoder.decodeJpegFrame(jpeg.data(), jpeg.size(), room.data(), width, height, size_t(width) * 4,
                                     &reason))
            state.SkipWithError(reason.c_str());
    state.counters["jpeg_bytes"] = double(jpeg.size());
}
BENCHMARK(BM_WebcamMjpegAtSize)
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->ArgNames({"w", "h"})
    ->Unit(benchmark::kMillisecond);

#ifdef FERNHOLD_HAVE_OPENCV
// OpenCV's way to the same frame: the picture scaled to cover (853 × 480), its centre
// taken and turned into RGBA. `threads` 0 is OpenCV's default thread count.
void coverWithOpenCV(const cv::Mat& bgr, cv::Mat& scaled, cv::Mat& frame, int code) {
    const double scale = std::max(double(frameWidth) / bgr.cols, double(frameHeight) / bgr.rows);
    cv::resize(bgr, scaled, cv::Size(int(bgr.cols * scale + 0.5), int(bgr.rows * scale + 0.5)), 0, 0,
               cv::INTER_AREA);
    const cv::Rect centre((scaled.cols - frameWidth) / 2, (scaled.rows - frameHeight) / 2, frameWidth,
                          frameHeight);
    cv::cvtColor(scaled(centre), frame, code);
}

// Each OpenCV case once on one thread and once on OpenCV's default count, in wall time.
void onOneThreadAndOpenCVsDefault(benchmark::internal::Benchmark* b) {
    b->Arg(1)->Arg(0)->ArgName("threads")->Unit(benchmark::kMicrosecond)->UseRealTime();
}

void BM_OpenCV_WebcamMjpegToFrame(benchmark::State& state) {
    cv::setNumThreads(int(state.range(0)) == 0 ? -1 : int(state.range(0)));
    const cv::Mat encoded(1, int(webcamJpeg().size()), CV_8U, const_cast<uint8_t*>(webcamJpeg().data()));
    cv::Mat bgr, scaled, frame(frameHeight, frameWidth, CV_8UC4);
    for (auto _ : state) {
        cv::imdecode(encoded, cv::IMREAD_COLOR, &bgr);
        coverWithOpenCV(bgr, scaled, frame, cv::COLOR_BGR2RGBA);
        benchmark::DoNotOptimize(frame.data);
    }
    cv::setNumThreads(-1);
}
BENCHMARK(BM_OpenCV_WebcamMjpegToFrame)->Apply(onOneThreadAndOpenCVsDefault);

void BM_OpenCV_WebcamYuyvToFrame(benchmark::State& state) {
    cv::setNumThreads(int(state.range(0)) == 0 ? -1 : int(state.range(0)));
    const cv::Mat yuyv(webcamHeight, webcamWidth, CV_8UC2, const_cast<uint8_t*>(webcamYuyv().data()));
    cv::Mat rgb, scaled, frame(frameHeight, frameWidth, CV_8UC4);
    for (auto _ : state) {
        cv::cvtColor(yuyv, rgb, cv::COLOR_YUV2RGB_YUY2);
        coverWithOpenCV(rgb, scaled, frame, cv::COLOR_RGB2RGBA);
        benchmark::DoNotOptimize(frame.data);
    }
    cv::setNumThreads(-1);
}
BENCHMARK(BM_OpenCV_WebcamYuyvToFrame)->Apply(onOneThreadAndOpenCVsDefault);
#endif

} // namespace

BENCHMARK_MAIN();
