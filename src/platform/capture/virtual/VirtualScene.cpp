#include "capture/virtual/VirtualScene.h"

#include <algorithm>
#include <cmath>
#include <random>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "capture/virtual/SensorModel.h"
#include "capture/virtual/VirtualSceneLayers.h"

// One frame of the virtual camera: the layers mixed for the lens position, the lamps
// added, then zoom, gain, noise and sRGB encoding in one pass.
using namespace virtual_scene;

namespace {
constexpr int encodeSteps = 4096;
constexpr uint32_t noiseMask = (1u << 16) - 1;

struct EncodeTables {
    std::array<float, 256> decode{};
    std::array<uint8_t, encodeSteps + 1> encode{};
    std::vector<float> noise = std::vector<float>(noiseMask + 1);
    EncodeTables() {
        for (int i = 0; i < 256; ++i)
            decode[i] = sensor::decodeSRGB(uint8_t(i));
        for (int i = 0; i <= encodeSteps; ++i)
            encode[i] = sensor::encodeSRGB(float(i) / encodeSteps);
        std::mt19937 random(20240611);
        std::normal_distribution<float> normal(0.0f, 1.0f);
        for (float& n : noise)
            n = std::clamp(normal(random), -4.0f, 4.0f);
    }
};
const EncodeTables& tables() {
    static const EncodeTables t;
    return t;
}
} // namespace

VirtualScene::VirtualScene(PictureSize size)
    : size_(size), layers_(Layers::shared(size.width, size.height)), composite_(size.pixelCount() * 3),
      lit_(size.pixelCount() * 3), meanRadiance_(0.18) {
    tables();
    // The meter needs a reading before the first frame: the scene in middle focus.
    std::array<LevelMix, 3> mix;
    for (int l = 0; l < 3; ++l)
        mix[l] = Layers::mixFor(middleSharpAt, layers_->layers[l].sharpAt);
    compose(mix);
    composedMix_ = mix;
    composed_ = true;
    unlight(0, composite_.size());
    meter(1.0);
}

VirtualScene::~VirtualScene() = default;

CVPixelBufferRef VirtualScene::render(const SensorSettings& settings) {
    return CVPixelBuffer::make(size_.width, size_.height, [&](uint8_t* rgba, size_t bytesPerRow) {
        renderInto(settings, rgba, bytesPerRow);
    });
}

void VirtualScene::renderInto(const SensorSettings& settings, uint8_t* rgba, size_t bytesPerRow) {
    std::array<LevelMix, 3> mix;
    for (int l = 0; l < 3; ++l)
        mix[l] = Layers::mixFor(settings.lensPosition, layers_->layers[l].sharpAt);
    if (!composed_ || mix != composedMix_) {
        compose(mix);
        unlight(0, composite_.size());
        lightPatches_.clear();
        composedMix_ = mix;
        composed_ = true;
    }
    drawLights(settings, mix);
    meter(settings.zoomFactor);
    encode(settings, rgba, bytesPerRow);
}

namespace {
// One row of a layer between two rungs: a + (b - a) * weight / 16, rounding down.
const uint8_t* mixedRow(const uint8_t* a, const uint8_t* b, int weight, int width, uint8_t* scratch) {
    if (weight == 0)
        return a;
    for (int i = 0; i < width * 4; ++i)
        scratch[i] = uint8_t(a[i] + (((int(b[i]) - int(a[i])) * weight) >> 4));
    return scratch;
}
// x / 255 rounded, exact for 0 <= x <= 65535, without a division.
inline int divide255(int x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}
} // namespace

void VirtualScene::compose(const std::array<LevelMix, 3>& mix) {
    const int W = size_.width, H = size_.height;
    mixed_ = {MixedLayer(*layers_, 0, mix[0]), MixedLayer(*layers_, 1, mix[1]),
              MixedLayer(*layers_, 2, mix[2])};
    const std::vector<MixedLayer>& L = mixed_;
    std::array<std::vector<uint8_t>, 3> scratch;
    for (auto& row : scratch)
        row.resize(size_t(W) * 4);
    for (int y = 0; y < H; ++y) {
        uint8_t* composed = &composite_[size_t(y) * size_t(W) * 3];
        const size_t rowStart = size_t(y) * size_t(W) * 4;
        std::array<const uint8_t*, 3> row;
        for (size_t l = 0; l < 3; ++l)
            row[l] =
                mixedRow(L[l].lower + rowStart, L[l].upper + rowStart, L[l].weight, W, scratch[l].data());
        const uint8_t *far = row[0], *middle = row[1], *near = row[2];
        // Premultiplied "over": near over middle over far.
        for (int x = 0; x < W; ++x) {
            const int clearMiddle = 255 - middle[x * 4 + 3], clearNear = 255 - near[x * 4 + 3];
            for (int c = 0; c < 3; ++c) {
                const int behind = middle[x * 4 + c] + divide255(clearMiddle * far[x * 4 + c]);
                composed[x * 3 + c] = uint8_t(std::min(255, near[x * 4 + c] + divide255(clearNear * behind)));
            }
        }
    }
}

void VirtualScene::unlight(size_t from, size_t to) {
    const auto& decode = tables().decode;
    for (size_t i = from; i < to; ++i)
        lit_[i] = decode[composite_[i]];
}

namespace {
// Gain, noise and the index into the encoding table for `count` samples: the one loop of a
// frame that touches every sample, four samples at a time where the processor has SSE2
// (the same operations in the same order as the plain loop, so the same results).
int32_t shadeSample(float radiance, float noise, float gain, float floor, float slope) {
    const float s = radiance * gain;
    const float v = s + noise * (floor + slope * std::min(s, 1.0f));
    return std::clamp(int32_t(v * float(encodeSteps) + 0.5f), int32_t(0), int32_t(encodeSteps));
}

void shadeRow(const float* radiance, const float* noise, size_t count, float gain, float floor, float slope,
              int32_t* index) {
    size_t i = 0;
#ifdef __SSE2__
    const __m128 gains = _mm_set1_ps(gain), floors = _mm_set1_ps(floor), slopes = _mm_set1_ps(slope);
    const __m128 one = _mm_set1_ps(1.0f), steps = _mm_set1_ps(float(encodeSteps)), half = _mm_set1_ps(0.5f);
    const __m128i top = _mm_set1_epi32(encodeSteps), zero = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        const __m128 s = _mm_mul_ps(_mm_loadu_ps(radiance + i), gains);
        // minps gives its second operand where the first is not a number, as the plain loop does.
        const __m128 spread = _mm_add_ps(floors, _mm_mul_ps(slopes, _mm_min_ps(s, one)));
        const __m128 v = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(noise + i), spread));
        __m128i step = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, steps), half));
        step = _mm_and_si128(step, _mm_cmpgt_epi32(step, zero));
        const __m128i over = _mm_cmpgt_epi32(step, top);
        step = _mm_or_si128(_mm_andnot_si128(over, step), _mm_and_si128(over, top));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(index + i), step);
    }
#endif
    for (; i < count; ++i)
        index[i] = shadeSample(radiance[i], noise[i], gain, floor, slope);
}

// One row of RGBA from its encoding-table indices. Where there is SSE2 (x86, little-endian,
// so R is the low byte), a pixel is put together in a register and written once, four
// pixels to a store: written a byte at a time, the stores took a quarter of the encoding.
// The noise table is read in place for the same reason: copying it cost a pass per row.
void packRow(const int32_t* index, const uint8_t* encodeTable, int width, uint8_t* out) {
    const auto pixel = [&](const int32_t* i) {
        return uint32_t(encodeTable[i[0]]) | uint32_t(encodeTable[i[1]]) << 8 |
               uint32_t(encodeTable[i[2]]) << 16 | 0xff000000u;
    };
    int x = 0;
#ifdef __SSE2__
    for (; x + 4 <= width; x += 4, index += 12, out += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_setr_epi32(int(pixel(index)), int(pixel(index + 3)), int(pixel(index + 6)),
                                        int(pixel(index + 9))));
#endif
    for (; x < width; ++x, index += 3, out += 4) {
        out[0] = encodeTable[index[0]];
        out[1] = encodeTable[index[1]];
        out[2] = encodeTable[index[2]];
        out[3] = 255;
    }
}

// The noise table's samples from `start` on, `count` of them, wrapping at its end.
void copyNoise(const float* table, uint32_t start, size_t count, float* out) {
    while (count > 0) {
        const size_t at = start & noiseMask;
        const size_t run = std::min(count, size_t(noiseMask) + 1 - at);
        std::copy_n(table + at, run, out);
        out += run;
        count -= run;
        start = 0;
    }
}
} // namespace

void VirtualScene::encode(const SensorSettings& settings, uint8_t* rgba, size_t bytesPerRow) {
    const EncodeTables& t = tables();
    const float gain = float(sensor::gain(settings.exposureSeconds, settings.iso));
    const float noiseGain = sensor::noiseGain(settings.iso);
    const float floor = noiseGain * sensor::noiseFloor, slope = noiseGain * sensor::noiseSlope;
    const uint8_t* encodeTable = t.encode.data();
    const double z = std::clamp(settings.zoomFactor, 1.0, 16.0);
    const int W = size_.width, H = size_.height;
    const size_t samples = size_t(W) * 3;
    rowNoise_.resize(samples);
    rowIndex_.resize(samples);

    // Zoom samples the centre of the view between pixels; the column weights are the same
    // for every row.
    if (z > 1.0) {
        rowRadiance_.resize(samples);
        zoomColumn_.resize(size_t(W));
        zoomColumnWeight_.resize(size_t(W));
        for (int x = 0; x < W; ++x) {
            double sx = W / 2.0 + (x + 0.5 - W / 2.0) / z - 0.5;
            int x0 = std::clamp(int(std::floor(sx)), 0, W - 2);
            zoomColumn_[size_t(x)] = x0;
            zoomColumnWeight_[size_t(x)] = float(std::clamp(sx - x0, 0.0, 1.0));
        }
    }
    for (int y = 0; y < H; ++y) {
        // Each frame and row reads the noise table from somewhere else.
        const uint32_t offset = uint32_t(settings.sequence * 0x9e3779b1u + uint64_t(y) * 0x85ebca77u) >> 7;
        // The table is read in place unless the row runs past its end.
        const float* noise = t.noise.data() + (offset & noiseMask);
        if ((offset & noiseMask) + samples > size_t(noiseMask) + 1) {
            copyNoise(t.noise.data(), offset, samples, rowNoise_.data());
            noise = rowNoise_.data();
        }
        const float* radiance = &lit_[size_t(y) * samples];
        if (z > 1.0) {
            double sy = H / 2.0 + (y + 0.5 - H / 2.0) / z - 0.5;
            int y0 = std::clamp(int(std::floor(sy)), 0, H - 2);
            float fy = float(std::clamp(sy - y0, 0.0, 1.0));
            const float* top = &lit_[size_t(y0) * samples];
            const float* bottom = top + samples;
            for (int x = 0; x < W; ++x) {
                const int i = zoomColumn_[size_t(x)] * 3;
                const float fx = zoomColumnWeight_[size_t(x)];
                for (int c = 0; c < 3; ++c) {
                    float upper = top[i + c] + (top[i + 3 + c] - top[i + c]) * fx;
                    float lower = bottom[i + c] + (bottom[i + 3 + c] - bottom[i + c]) * fx;
                    rowRadiance_[size_t(x) * 3 + size_t(c)] = upper + (lower - upper) * fy;
                }
            }
            radiance = rowRadiance_.data();
        }
        shadeRow(radiance, noise, samples, gain, floor, slope, rowIndex_.data());
        packRow(rowIndex_.data(), encodeTable, W, rgba + size_t(y) * bytesPerRow);
    }
}

double VirtualScene::meteredBrightness(const SensorSettings& settings) const {
    return meanRadiance_.load(std::memory_order_relaxed) *
           sensor::gain(settings.exposureSeconds, settings.iso);
}

float VirtualScene::sharpLensPosition(const SensorSettings& settings) const {
    // Contrast focus looks at a window in the middle of the view: the nearest layer that
    // fills a good part of it is what the camera focuses on.
    const double z = std::clamp(settings.zoomFactor, 1.0, 16.0);
    const int W = size_.width, H = size_.height;
    const double scale = layers_->geometry.scale;
    const double halfW = 80 * scale / z, halfH = 60 * scale / z;
    const std::array<const uint8_t*, 3> sharp{nullptr, layers_->layers[1].sharp->data(),
                                              layers_->layers[2].sharp->data()};
    std::array<int, 3> covered{};
    int samples = 0;
    for (int j = 0; j < 12; ++j)
        for (int i = 0; i < 16; ++i) {
            int x = int(W / 2 - halfW + (i + 0.5) * 2 * halfW / 16);
            int y = int(H / 2 - halfH + (j + 0.5) * 2 * halfH / 12);
            size_t p = size_t(y) * W + size_t(x);
            for (int l = 1; l < 3; ++l)
                covered[l] += sharp[l][p * 4 + 3] > 127 ? 1 : 0;
            ++samples;
        }
    if (covered[2] * 4 >= samples)
        return nearSharpAt;
    if (covered[1] * 4 >= samples)
        return middleSharpAt;
    return farSharpAt;
}
