#include "media/CMTime.h"

#include <cmath>
#include <limits>

double CMTimeGetSeconds(CMTime time) {
    if (!time.isValid())
        return std::numeric_limits<double>::quiet_NaN();
    return double(time.value) / double(time.timescale);
}

CMTime CMTimeMakeWithSeconds(double seconds, int32_t preferredTimescale) {
    if (preferredTimescale <= 0 || !std::isfinite(seconds))
        return kCMTimeInvalid;
    double units = std::round(seconds * double(preferredTimescale));
    constexpr double limit = double(std::numeric_limits<int64_t>::max());
    if (std::fabs(units) >= limit)
        return kCMTimeInvalid;
    return CMTime{int64_t(units), preferredTimescale};
}

int CMTimeCompare(CMTime a, CMTime b) {
    // Cross-multiplied in 128 bits so that no precision is lost.
    __extension__ using Wide = __int128;
    Wide left = Wide(a.value) * b.timescale;
    Wide right = Wide(b.value) * a.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}
