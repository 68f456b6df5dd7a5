// What a virtual camera frame costs on one core: the scene with the lens still (the usual
// case), with the lens moving every frame (automatic focus at work), and zoomed in.
#include <benchmark/benchmark.h>

#include <vector>

#include "capture/VirtualScene.h"

namespace {

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

} // namespace

BENCHMARK_MAIN();
