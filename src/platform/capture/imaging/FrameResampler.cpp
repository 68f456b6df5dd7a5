#include "capture/imaging/FrameResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
constexpr int weightBits = 14;
constexpr int32_t one = 1 << weightBits, half = one / 2;

// The common tap counts get loops the compiler unrolls and vectorises.
template <int taps>
void blendFixed(const int16_t* weights, const uint8_t* const* rows, size_t bytes, uint8_t* out) {
    const uint8_t* row[taps];
    int16_t weight[taps];
    for (int k = 0; k < taps; ++k) {
        row[k] = rows[k];
        weight[k] = weights[k];
    }
    for (size_t i = 0; i < bytes; ++i) {
        int32_t sum = half;
        for (int k = 0; k < taps; ++k)
            sum += weight[k] * row[k][i];
        out[i] = uint8_t(sum >> weightBits);
    }
}

void blendAny(int taps, const int16_t* weights, const uint8_t* const* rows, size_t bytes, uint8_t* out) {
    for (size_t i = 0; i < bytes; ++i) {
        int32_t sum = half;
        for (int k = 0; k < taps; ++k)
            sum += weights[k] * rows[k][i];
        out[i] = uint8_t(sum >> weightBits);
    }
}

#if defined(__SSE2__)
// Two taps at a time, all four channels in one multiply-add: the pixels' bytes are paired
// channel by channel with the next tap's and multiplied with both weights at once.
void resampleSse2(int taps, const int* first, const int16_t* weights, int width, const uint8_t* rgba,
                  int rowStartsAt, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128(), rounding = _mm_set1_epi32(half);
    const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
    for (int x = 0; x < width; ++x, weights += taps, out += 4) {
        const uint8_t* p = rgba + size_t(first[x] - rowStartsAt) * 4;
        __m128i sum = rounding;
        for (int k = 0; k < taps; k += 2) {
            const bool pair = k + 1 < taps; // the last of an odd count pairs with nothing
            int32_t a, b;
            std::memcpy(&a, p + 4 * k, 4);
            std::memcpy(&b, p + 4 * (pair ? k + 1 : k), 4);
            const __m128i pixels =
                _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(a), _mm_cvtsi32_si128(b)), zero);
            const uint32_t both = uint16_t(weights[k]) | uint32_t(pair ? uint16_t(weights[k + 1]) : 0u) << 16;
            sum = _mm_add_epi32(sum, _mm_madd_epi16(pixels, _mm_set1_epi32(int32_t(both))));
        }
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(_mm_srai_epi32(sum, weightBits), zero), zero);
        const int32_t pixel = _mm_cvtsi128_si32(_mm_or_si128(bytes, opaque));
        std::memcpy(out, &pixel, 4);
    }
}
#else
template <int taps>
void resampleFixed(const int* first, const int16_t* weights, int width, const uint8_t* rgba, int rowStartsAt,
                   uint8_t* out) {
    for (int x = 0; x < width; ++x, weights += taps, out += 4) {
        const uint8_t* p = rgba + size_t(first[x] - rowStartsAt) * 4;
        int32_t r = half, g = half, b = half;
        for (int k = 0; k < taps; ++k, p += 4) {
            r += weights[k] * p[0];
            g += weights[k] * p[1];
            b += weights[k] * p[2];
        }
        out[0] = uint8_t(r >> weightBits);
        out[1] = uint8_t(g >> weightBits);
        out[2] = uint8_t(b >> weightBits);
        out[3] = 255;
    }
}

void resampleAny(int taps, const int* first, const int16_t* weights, int width, const uint8_t* rgba,
                 int rowStartsAt, uint8_t* out) {
    for (int x = 0; x < width; ++x, weights += taps, out += 4) {
        const uint8_t* p = rgba + size_t(first[x] - rowStartsAt) * 4;
        int32_t sum[3] = {half, half, half};
        for (int k = 0; k < taps; ++k, p += 4)
            for (int c = 0; c < 3; ++c)
                sum[c] += weights[k] * p[c];
        for (int c = 0; c < 3; ++c)
            out[c] = uint8_t(sum[c] >> weightBits);
        out[3] = 255;
    }
}
#endif
} // namespace

FrameResampler::Axis FrameResampler::axis(double start, double length, int size, int count) {
    // Each destination sample's source samples and weights, as fitInto takes them.
    std::vector<std::vector<double>> spans(static_cast<size_t>(count)); // weights from `lowest` on
    std::vector<int> lowest(static_cast<size_t>(count));
    const double step = length / count;
    Axis result;
    for (int i = 0; i < count; ++i) {
        const double a = start + i * step, b = a + step;
        auto& span = spans[size_t(i)];
        auto add = [&](int index, double weight) {
            index = std::clamp(index, 0, size - 1);
            if (span.empty())
                lowest[size_t(i)] = index;
            const size_t at = size_t(index - lowest[size_t(i)]);
            span.resize(std::max(span.size(), at + 1), 0.0);
            span[at] += weight;
        };
        if (step >= 1.0) {
            for (int j = int(std::floor(a)); j < int(std::ceil(b)); ++j) {
                const double overlap = std::min(b, j + 1.0) - std::max(a, double(j));
                if (overlap > 1e-9)
                    add(j, overlap / step);
            }
        } else {
            const double centre = (a + b) / 2 - 0.5;
            const int j = int(std::floor(centre));
            add(j, 1 - (centre - j));
            add(j + 1, centre - j);
        }
        result.taps = std::max(result.taps, int(span.size()));
    }
    result.first.resize(size_t(count));
    result.weights.assign(size_t(count) * size_t(result.taps), 0);
    for (size_t i = 0; i < spans.size(); ++i) {
        // Every destination sample takes the same number of taps, so a window near the
        // end of the source starts early enough to stay inside it.
        const int first = std::min(lowest[i], size - result.taps);
        result.first[i] = first;
        int16_t* weights = &result.weights[i * size_t(result.taps)];
        int32_t total = 0;
        size_t largest = 0;
        for (size_t k = 0; k < spans[i].size(); ++k) {
            const size_t at = k + size_t(lowest[i] - first);
            weights[at] = int16_t(std::lround(spans[i][k] * one));
            total += weights[at];
            if (weights[at] > weights[largest])
                largest = at;
        }
        weights[largest] = int16_t(weights[largest] + one - total); // exactly 1: no overflow, no drift
    }
    return result;
}

void FrameResampler::prepare(int sourceWidth, int sourceHeight, SourceRect crop, int destinationWidth,
                             int destinationHeight) {
    columns_ = axis(crop.x, crop.width, sourceWidth, destinationWidth);
    rows_ = axis(crop.y, crop.height, sourceHeight, destinationHeight);
}

void FrameResampler::blendRows(int y, const uint8_t* const* rows, size_t bytes, uint8_t* out) const {
    const int16_t* weights = &rows_.weights[size_t(y) * size_t(rows_.taps)];
    switch (rows_.taps) {
    case 1:
        return blendFixed<1>(weights, rows, bytes, out);
    case 2:
        return blendFixed<2>(weights, rows, bytes, out);
    case 3:
        return blendFixed<3>(weights, rows, bytes, out);
    case 4:
        return blendFixed<4>(weights, rows, bytes, out);
    default:
        return blendAny(rows_.taps, weights, rows, bytes, out);
    }
}

void FrameResampler::resampleRow(const uint8_t* rgba, int rowStartsAt, uint8_t* out) const {
    const int width = destinationWidth();
    const int* first = columns_.first.data();
    const int16_t* weights = columns_.weights.data();
#if defined(__SSE2__)
    resampleSse2(columns_.taps, first, weights, width, rgba, rowStartsAt, out);
#else
    switch (columns_.taps) {
    case 1:
        return resampleFixed<1>(first, weights, width, rgba, rowStartsAt, out);
    case 2:
        return resampleFixed<2>(first, weights, width, rgba, rowStartsAt, out);
    case 3:
        return resampleFixed<3>(first, weights, width, rgba, rowStartsAt, out);
    case 4:
        return resampleFixed<4>(first, weights, width, rgba, rowStartsAt, out);
    default:
        return resampleAny(columns_.taps, first, weights, width, rgba, rowStartsAt, out);
    }
#endif
}
