#pragma once
// Time values: a 64-bit value over a 32-bit timescale, in seconds value / timescale.
#include <cstdint>

struct CMTime {
    int64_t value = 0;
    int32_t timescale = 0; // 0 marks an invalid time
    bool isValid() const { return timescale > 0; }
    friend bool operator==(const CMTime&, const CMTime&) = default;
};

inline constexpr CMTime kCMTimeInvalid{0, 0};
inline CMTime CMTimeMake(int64_t value, int32_t timescale) {
    return CMTime{value, timescale};
}
// NaN for an invalid time.
double CMTimeGetSeconds(CMTime time);
// Rounds to the nearest whole unit of `preferredTimescale`.
CMTime CMTimeMakeWithSeconds(double seconds, int32_t preferredTimescale);
// -1, 0 or 1, comparing the times exactly (not through doubles).
int CMTimeCompare(CMTime a, CMTime b);
