#include "capture/imaging/FrameScaling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {
struct Tap {
    int index;
    float weight;
};

// For each of `count` outputs covering [start, start + length) of a source `size` long:
// the source samples it takes and their weights (summing to 1).
std::vector<std::vector<Tap>> taps(double start, double length, int size, int count) {
    std::vector<std::vector<Tap>> result(static_cast<size_t>(count));
    const double step = length / count;
    for (int i = 0; i < count; ++i) {
        const double a = start + i * step, b = a + step;
        auto& t = result[size_t(i)];
        if (step >= 1.0) {
            for (int j = int(std::floor(a)); j < int(std::ceil(b)); ++j) {
                double overlap = std::min(b, j + 1.0) - std::max(a, double(j));
                if (overlap > 1e-9)
                    t.push_back({std::clamp(j, 0, size - 1), float(overlap / step)});
            }
        } else {
            const double centre = (a + b) / 2 - 0.5;
            const int j = int(std::floor(centre));
            const float f = float(centre - j);
            t.push_back({std::clamp(j, 0, size - 1), 1 - f});
            t.push_back({std::clamp(j + 1, 0, size - 1), f});
        }
    }
    return result;
}
} // namespace

void fitInto(const uint8_t* source, int sourceWidth, int sourceHeight, size_t sourceBytesPerRow,
             int sourceChannels, SourceRect crop, uint8_t* destination, int destinationWidth,
             int destinationHeight, size_t destinationBytesPerRow) {
    for (int y = 0; y < destinationHeight; ++y) {
        uint8_t* row = destination + size_t(y) * destinationBytesPerRow;
        for (int x = 0; x < destinationWidth; ++x) {
            std::memset(row + x * 4, 0, 3);
            row[x * 4 + 3] = 255;
        }
    }
    if (crop.width <= 0 || crop.height <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return;
    const double scale = std::min(destinationWidth / crop.width, destinationHeight / crop.height);
    const int width = std::clamp(int(std::lround(crop.width * scale)), 1, destinationWidth);
    const int height = std::clamp(int(std::lround(crop.height * scale)), 1, destinationHeight);
    const int left = (destinationWidth - width) / 2, top = (destinationHeight - height) / 2;

    const auto columns = taps(crop.x, crop.width, sourceWidth, width);
    const auto rows = taps(crop.y, crop.height, sourceHeight, height);
    const int channels = sourceChannels;
    std::vector<float> sum(size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (const Tap& vertical : rows[size_t(y)]) {
            const uint8_t* in = source + size_t(vertical.index) * sourceBytesPerRow;
            for (int x = 0; x < width; ++x) {
                float rgba[4] = {0, 0, 0, 0};
                for (const Tap& horizontal : columns[size_t(x)]) {
                    const uint8_t* p = in + size_t(horizontal.index) * size_t(channels);
                    for (int c = 0; c < 3; ++c)
                        rgba[c] += horizontal.weight * p[c];
                    rgba[3] += horizontal.weight * (channels == 4 ? p[3] : 255);
                }
                for (int c = 0; c < 4; ++c)
                    sum[size_t(x) * 4 + size_t(c)] += vertical.weight * rgba[c];
            }
        }
        uint8_t* out = destination + size_t(top + y) * destinationBytesPerRow + size_t(left) * 4;
        for (size_t i = 0; i < sum.size(); ++i)
            out[i] = uint8_t(std::clamp(std::lround(sum[i]), 0L, 255L));
    }
}
