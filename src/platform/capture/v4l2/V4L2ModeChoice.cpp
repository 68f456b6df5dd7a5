#include "capture/v4l2/V4L2ModeChoice.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {
bool isDecoded(uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG ||
           pixelFormat == V4L2_PIX_FMT_YUYV;
}

uint64_t area(const V4L2Mode& m) {
    return uint64_t(m.width) * m.height;
}

std::vector<V4L2Interval> fastestFirst(std::vector<V4L2Interval> intervals) {
    std::sort(intervals.begin(), intervals.end(),
              [](const V4L2Interval& a, const V4L2Interval& b) { return a.seconds() < b.seconds(); });
    return intervals;
}

double shortestInterval(const V4L2Mode& m) {
    double shortest = 1e9;
    for (const auto& i : m.intervals)
        if (i.seconds() > 0)
            shortest = std::min(shortest, i.seconds());
    return shortest;
}
} // namespace

V4L2ModeChoice chooseV4L2Mode(const std::vector<V4L2Mode>& modes, PictureSize picture) {
    const uint32_t frameWidth = uint32_t(picture.width), frameHeight = uint32_t(picture.height);
    std::vector<V4L2Mode> usable;
    std::copy_if(modes.begin(), modes.end(), std::back_inserter(usable),
                 [](const V4L2Mode& m) { return isDecoded(m.pixelFormat) && m.width > 0 && m.height > 0; });
    if (usable.empty())
        return {V4L2Format{V4L2_PIX_FMT_RGB24, frameWidth, frameHeight, 0}, {}, picture};

    auto covers = [&](const V4L2Mode& m) { return m.width >= frameWidth && m.height >= frameHeight; };
    auto better = [&](const V4L2Mode& a, const V4L2Mode& b) { // is `a` a better size than `b`?
        const bool exactA = a.width == frameWidth && a.height == frameHeight;
        const bool exactB = b.width == frameWidth && b.height == frameHeight;
        if (exactA != exactB)
            return exactA;
        if (covers(a) != covers(b))
            return covers(a);
        return covers(a) ? area(a) < area(b) : area(a) > area(b);
    };
    const V4L2Mode* chosen = &usable.front();
    for (const V4L2Mode& m : usable) {
        if (better(m, *chosen))
            chosen = &m;
        else if (m.width == chosen->width && m.height == chosen->height) {
            const double a = shortestInterval(m), b = shortestInterval(*chosen);
            if (a < b || (a == b && m.pixelFormat == V4L2_PIX_FMT_YUYV))
                chosen = &m;
        }
    }
    return {V4L2Format{chosen->pixelFormat, chosen->width, chosen->height, 0},
            fastestFirst(chosen->intervals), picture};
}

int setChosenMode(V4L2Io& io, V4L2ModeChoice& mode, PictureSize picture) {
    mode = chooseV4L2Mode(io.modes(picture), picture);
    if (int error = io.setFormat(mode.format))
        return error;
    // RGB24 through libv4l2 runs at the durations of the size it granted.
    if (mode.intervals.empty())
        mode.intervals =
            fastestFirst(io.frameIntervals(mode.format.pixelFormat, mode.format.width, mode.format.height));
    // A UVC camera runs a new format at that mode's default interval, which need not be
    // its fastest; the range the application is told starts at the fastest, so ask for it.
    // A camera that takes no interval (or refuses this one) runs at its own pace.
    if (!mode.intervals.empty() && io.canSetFrameInterval()) {
        V4L2Interval fastest = mode.intervals.front();
        io.setFrameInterval(fastest);
    }
    return 0;
}

std::string fourCharacterCode(uint32_t pixelFormat) {
    std::string code;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char((pixelFormat >> shift) & 0xff);
        code += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return code;
}
