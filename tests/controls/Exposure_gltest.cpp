// Exposure and ISO: the mode control and the group it refreshes, the logarithmic duration
// and ISO sliders and what they send, devices without a mode or that refuse the lock.
#include <cmath>

#include "support/ScreenFixture.h"

namespace {
// The sliders' positions for a duration and an ISO, worked out here from the format.
double durationPosition(const AVCaptureDeviceFormat& f, double seconds) {
    return std::log(seconds / CMTimeGetSeconds(f.minExposureDuration)) /
           std::log(CMTimeGetSeconds(f.maxExposureDuration) / CMTimeGetSeconds(f.minExposureDuration));
}
double isoPosition(const AVCaptureDeviceFormat& f, double iso) {
    return std::log(iso / f.minISO) / std::log(double(f.maxISO) / f.minISO);
}
} // namespace

using Exposure = ScreenFixture;

TEST_F(Exposure, SegmentsSetTheModeAtOnceAndShowTheirControls) {
    load();
    screen->hideControls = false;
    withDeviceLock(*device, [&] { device->setExposureTargetBias(2.5f, nullptr); });
    struct Case {
        int segment;
        AVCaptureExposureMode mode;
        bool bias, manual;
    };
    const Case cases[] = {{1, AVCaptureExposureMode::custom, false, true},
                          {0, AVCaptureExposureMode::locked, false, false},
                          {2, AVCaptureExposureMode::autoExpose, true, false},
                          {3, AVCaptureExposureMode::continuousAutoExposure, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.segment);
        // Every control starts the other way round from where the refresh must leave it.
        screen->exposureControlsView->setHidden(true);
        screen->exposureBiasLabel->setHidden(c.bias);
        screen->exposureBiasSlider->setHidden(c.bias);
        screen->durationSlider->setHidden(c.manual);
        screen->isoSlider->setHidden(c.manual);
        screen->exposureBiasSlider->setMinimumValue(-1);
        screen->exposureBiasSlider->setMaximumValue(1);
        screen->exposureModeControl->touchSegment(c.segment);
        EXPECT_EQ(device->exposureMode(), c.mode); // synchronous: nothing queued
        EXPECT_FALSE(screen->exposureControlsView->isHidden());
        EXPECT_EQ(screen->exposureBiasSlider->isHidden(), !c.bias);
        EXPECT_EQ(screen->exposureBiasLabel->isHidden(), !c.bias);
        EXPECT_EQ(screen->durationSlider->isHidden(), !c.manual);
        EXPECT_EQ(screen->isoSlider->isHidden(), !c.manual);
        if (c.bias) {
            EXPECT_EQ(screen->exposureBiasSlider->minimumValue(), device->minExposureTargetBias());
            EXPECT_EQ(screen->exposureBiasSlider->maximumValue(), device->maxExposureTargetBias());
            EXPECT_EQ(screen->exposureBiasSlider->value(), device->exposureTargetBias());
        }
        if (c.manual) {
            const auto& format = device->activeFormat();
            EXPECT_NEAR(screen->durationSlider->value(),
                        durationPosition(format, CMTimeGetSeconds(device->exposureDuration())), 1e-5);
            EXPECT_NEAR(screen->isoSlider->value(), isoPosition(format, device->ISO()), 1e-5);
        }
    }
    // The bias slider writes the device at once.
    screen->exposureBiasSlider->dragTo(-1.25f);
    EXPECT_EQ(device->exposureTargetBias(), -1.25f);
}

TEST_F(Exposure, EitherSliderSendsDurationInMicrosecondsAndISOInsideTheRanges) {
    load();
    const auto& format = device->activeFormat();
    const double dmin = CMTimeGetSeconds(format.minExposureDuration);
    const double dmax = CMTimeGetSeconds(format.maxExposureDuration);
    auto expectedDuration = [&](float v) {
        double seconds = dmin * std::exp(std::log(dmax / dmin) * double(v));
        return CMTime{std::llround(seconds * 1e6), 1000000};
    };
    auto expectedISO = [&](float v) {
        return format.minISO * std::exp(v * std::log(format.maxISO / format.minISO));
    };

    // Either slider sends both values; the duration's first move selects custom mode.
    for (auto [moved, other] : {std::pair{screen->durationSlider, screen->isoSlider},
                                std::pair{screen->isoSlider, screen->durationSlider}}) {
        other->setValue(0.25f);
        moved->dragTo(0.6f);
        EXPECT_EQ(device->exposureMode(), AVCaptureExposureMode::custom);
        float d = screen->durationSlider->value(), i = screen->isoSlider->value();
        EXPECT_EQ(device->exposureDuration(), expectedDuration(d));
        EXPECT_FLOAT_EQ(device->ISO(), expectedISO(i));
    }

    // At the ends the values stay inside the format's ranges, still in microseconds.
    for (float end : {0.0f, 1.0f}) {
        SCOPED_TRACE(end);
        screen->durationSlider->setValue(end);
        screen->isoSlider->dragTo(end);
        const CMTime duration = device->exposureDuration();
        EXPECT_EQ(duration.timescale, 1000000);
        EXPECT_GE(CMTimeCompare(duration, format.minExposureDuration), 0);
        EXPECT_LE(CMTimeCompare(duration, format.maxExposureDuration), 0);
        EXPECT_NEAR(CMTimeGetSeconds(duration), end == 0 ? dmin : dmax, 1e-6);
        EXPECT_FLOAT_EQ(device->ISO(), end == 0 ? format.minISO : format.maxISO);
    }
}

// A device without locked or custom exposure says so, then one that refuses its lock: each
// write is reported and the device keeps its mode and values.
TEST_F(Exposure, MissingModesAndARefusedLockAreReportedAndLeaveTheDeviceAlone) {
    load();
    holdDeviceStill();
    const CMTime duration = device->exposureDuration();
    const float iso = device->ISO(), bias = device->exposureTargetBias();
    device->setLacksLockedExposure(true);
    device->setLacksCustomExposure(true);
    printed.clear();
    screen->exposureModeControl->touchSegment(0);
    screen->exposureModeControl->touchSegment(1);
    device->setRefusesConfigurationLock(true);
    screen->exposureModeControl->touchSegment(2);
    screen->exposureBiasSlider->dragTo(3.0f);
    screen->durationSlider->dragTo(0.9f);
    screen->isoSlider->dragTo(0.1f);
    const std::string caught = " caught exception " + refusal;
    EXPECT_EQ(printedExceptFrames(),
              (std::vector<std::string>{"setExposureMode but dns locked mode",
                                        "setExposureMode but dns custom mode", "setExposureMode" + caught,
                                        "setExposureBias" + caught, "setExposureDurationAndIso" + caught,
                                        "setExposureDurationAndIso" + caught}));
    EXPECT_EQ(std::tuple(device->exposureMode(), device->exposureDuration(), device->ISO(),
                         device->exposureTargetBias()),
              std::tuple(AVCaptureExposureMode::locked, duration, iso, bias));
    EXPECT_FALSE(device->holdsConfigurationLock());
    device->setRefusesConfigurationLock(false);
    EXPECT_TRUE(lockableFromAnotherThread(*device));
}
