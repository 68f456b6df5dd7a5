// The virtual camera's flicker: bands only where the exposure does not last a whole number
// of the lights' flicker periods (twice the mains frequency), none with steady light.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "capture/virtual/SensorTint.h"

namespace {

// The spread of the row means of a mid-grey frame after development.
int rowSpread(double mainsHz, double exposureSeconds) {
    constexpr int width = 8, height = 480;
    std::vector<uint8_t> rgba(size_t(width) * height * 4, 118);
    sensor::Development development;
    development.mainsHz = mainsHz;
    sensor::develop(development, 0.25, exposureSeconds, rgba.data(), width * 4, width, height);
    int lowest = 255, highest = 0;
    for (int y = 0; y < height; ++y) {
        lowest = std::min<int>(lowest, rgba[size_t(y) * width * 4 + 1]);
        highest = std::max<int>(highest, rgba[size_t(y) * width * 4 + 1]);
    }
    return highest - lowest;
}

TEST(SensorTint, FlickerBandsOnlyAtExposuresThatBeatWithTheMains) {
    for (double mains : {50.0, 60.0}) {
        for (int periods : {1, 2, 3})
            EXPECT_LE(rowSpread(mains, periods / (2 * mains)), 1)
                << mains << " Hz, " << periods << " periods";
        for (double beating : {1.0 / 250, 1.0 / 3 / mains, 1.5 / (2 * mains)})
            EXPECT_GE(rowSpread(mains, beating), 6) << mains << " Hz at " << beating << " s";
    }
    EXPECT_EQ(rowSpread(0, 1.0 / 250), 0) << "steady light";
}

} // namespace
