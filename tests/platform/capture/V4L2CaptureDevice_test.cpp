// The webcam device against a fake V4L2 camera modelled on a UVC webcam: how properties
// map onto controls (units, ranges, steps, menus, read-back), what a missing control
// takes away, changes made by another program, frames, and failure while streaming.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>

#include "CaptureTestSupport.h"
#include "FakeV4L2Camera.h"
#include "capture/CaptureError.h"
#include "capture/V4L2CaptureDevice.h"

using namespace capturetest;
using namespace std::chrono_literals;

namespace {

std::shared_ptr<V4L2CaptureDevice> openFake(const std::shared_ptr<FakeCamera>& camera) {
    NSError error;
    auto device = V4L2CaptureDevice::open(std::make_unique<FakeV4L2Io>(camera), "/dev/video7", &error);
    if (!device)
        ADD_FAILURE() << error.localizedDescription();
    return device;
}

} // namespace

TEST(V4L2CaptureDeviceControls, RangesAndStartingValuesComeFromTheControls) {
    auto camera = uvcWebcam();
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->localizedName(), "Fake Webcam (/dev/video7)");
    const auto& format = device->activeFormat();
    EXPECT_EQ(CMTimeCompare(format.minExposureDuration, CMTime{3, 10000}), 0);
    EXPECT_EQ(CMTimeCompare(format.maxExposureDuration, CMTime{2047, 10000}), 0);
    EXPECT_FLOAT_EQ(format.minISO, 25);
    EXPECT_FLOAT_EQ(format.maxISO, 1600);
    EXPECT_FLOAT_EQ(device->minExposureTargetBias(), -2);
    EXPECT_FLOAT_EQ(device->maxExposureTargetBias(), 2);
    EXPECT_DOUBLE_EQ(device->maxAvailableVideoZoomFactor(), 5.0);

    EXPECT_EQ(device->exposureMode(), AVCaptureExposureMode::continuousAutoExposure);
    EXPECT_EQ(CMTimeCompare(device->exposureDuration(), CMTime{156, 10000}), 0);
    EXPECT_NEAR(device->ISO(), 25 + 64.0 / 255 * 1575, 0.01);
    EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::continuousAutoFocus);
    EXPECT_FLOAT_EQ(device->lensPosition(), 1.0f); // focus value 0 is infinity
    EXPECT_EQ(device->whiteBalanceMode(), AVCaptureWhiteBalanceMode::continuousAutoWhiteBalance);
    std::lock_guard lock(camera->mutex);
    EXPECT_EQ(camera->subscribed.size(), 8u);
}

TEST(V4L2CaptureDeviceControls, WritesUseTheControlsUnitsAndPublishWhatTheDriverKept) {
    auto camera = uvcWebcam();
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    // 1/3000 s is 3.3 units of 100 µs: the camera keeps 3. ISO 800 is gain 125.5, which
    // the step of 5 makes 125.
    configure(*device, [&] {
        device->setExposureModeCustomWithDuration(CMTimeMakeWithSeconds(1.0 / 3000, 1000000), 800, nullptr);
    });
    EXPECT_EQ(camera->value(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(camera->value(V4L2_CID_EXPOSURE_ABSOLUTE), 3);
    EXPECT_EQ(camera->value(V4L2_CID_GAIN), 125);
    EXPECT_EQ(CMTimeCompare(device->exposureDuration(), CMTime{3, 10000}), 0);
    EXPECT_NEAR(device->ISO(), 25 + 125.0 / 255 * 1575, 0.01);

    configure(*device, [&] {
        device->setExposureTargetBias(0.8f, nullptr); // the nearest menu entry is +1 EV
        device->setFocusModeLockedWithLensPosition(0.322f, nullptr);
        device->setVideoZoomFactor(2.5);
    });
    EXPECT_EQ(camera->value(V4L2_CID_AUTO_EXPOSURE_BIAS), 3);
    EXPECT_FLOAT_EQ(device->exposureTargetBias(), 1.0f);
    EXPECT_EQ(camera->value(V4L2_CID_FOCUS_AUTO), 0);
    EXPECT_EQ(camera->value(V4L2_CID_FOCUS_ABSOLUTE), 170); // 169.5 asked, snapped to the step
    EXPECT_NEAR(device->lensPosition(), 0.32f, 1e-6);
    EXPECT_EQ(camera->value(V4L2_CID_ZOOM_ABSOLUTE), 250);
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 2.5);

    configure(*device, [&] {
        device->setExposureMode(AVCaptureExposureMode::continuousAutoExposure);
        device->setFocusMode(AVCaptureFocusMode::continuousAutoFocus);
    });
    EXPECT_EQ(camera->value(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
    EXPECT_EQ(camera->value(V4L2_CID_FOCUS_AUTO), 1);
}

TEST(V4L2CaptureDeviceControls, MissingControlsTakeTheirModesAway) {
    // A basic webcam: fixed focus, automatic exposure only (full auto), no zoom, no gain.
    auto camera = std::make_shared<FakeCamera>();
    camera->add(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, 0, 3, 1, V4L2_EXPOSURE_AUTO,
                {{0, "Auto Mode", 0}});
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->isFocusModeSupported(AVCaptureFocusMode::continuousAutoFocus));
    EXPECT_FALSE(device->isFocusModeSupported(AVCaptureFocusMode::autoFocus));
    EXPECT_TRUE(device->isFocusModeSupported(AVCaptureFocusMode::locked)); // nothing to unlock
    EXPECT_FALSE(device->isLockingFocusWithCustomLensPositionSupported());
    EXPECT_TRUE(device->isExposureModeSupported(AVCaptureExposureMode::continuousAutoExposure));
    EXPECT_FALSE(device->isExposureModeSupported(AVCaptureExposureMode::locked));
    EXPECT_FALSE(device->isExposureModeSupported(AVCaptureExposureMode::custom));
    EXPECT_FLOAT_EQ(device->maxExposureTargetBias(), 0);
    EXPECT_FLOAT_EQ(device->activeFormat().maxISO, device->activeFormat().minISO);
    EXPECT_DOUBLE_EQ(device->maxAvailableVideoZoomFactor(), 16.0); // digital zoom instead

    auto full = openFake(uvcWebcam());
    ASSERT_TRUE(full);
    EXPECT_TRUE(full->isFocusModeSupported(AVCaptureFocusMode::continuousAutoFocus));
    EXPECT_FALSE(full->isFocusModeSupported(AVCaptureFocusMode::autoFocus)); // no focus-start button
    EXPECT_TRUE(full->isLockingFocusWithCustomLensPositionSupported());
    EXPECT_TRUE(full->isExposureModeSupported(AVCaptureExposureMode::custom));
}

TEST(V4L2CaptureDeviceControls, ChangesByAnotherProgramReachTheProperties) {
    auto camera = uvcWebcam();
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    ChangeRecorder<float> iso(device->isoProperty);
    ChangeRecorder<AVCaptureFocusMode> focus(device->focusModeProperty);
    ChangeRecorder<AVCaptureExposureMode> exposure(device->exposureModeProperty);
    device->setRefusesConfigurationLock(true); // refuses the application, not the camera
    camera->changeElsewhere(V4L2_CID_GAIN, 255);
    camera->changeElsewhere(V4L2_CID_FOCUS_AUTO, 0);
    camera->changeElsewhere(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
    ASSERT_TRUE(iso.waitFor(1) && focus.waitFor(1) && exposure.waitFor(1));
    EXPECT_FLOAT_EQ(iso.values().back(), 1600);
    EXPECT_EQ(focus.values().back(), AVCaptureFocusMode::locked);
    EXPECT_EQ(exposure.values().back(), AVCaptureExposureMode::locked);
    EXPECT_NE(iso.threads().front(), std::this_thread::get_id());
}

TEST(V4L2CaptureDeviceFrames, FramesBecomeRGBAAndOtherSizesAreFitted) {
    auto camera = uvcWebcam();
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    FrameRecorder frames;
    ASSERT_TRUE(device->startStreaming(frames.handler(), nullptr));
    camera->queueFrames(3);
    ASSERT_TRUE(frames.waitFor(3));
    for (const auto& a : frames.values()) {
        const auto& b = a.sample->imageBuffer;
        const uint8_t* p = &(*b->storage())[size_t(200) * b->bytesPerRow() + 300 * 4];
        const auto n = uint8_t(a.sample->frameNumber);
        EXPECT_EQ(std::vector<uint8_t>(p, p + 4),
                  (std::vector<uint8_t>{n, uint8_t(2 * n), uint8_t(3 * n), 255}));
    }

    camera = uvcWebcam();
    camera->granted = {V4L2_PIX_FMT_RGB24, 1280, 720, 1280 * 3};
    device = openFake(camera);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->startStreaming(frames.handler(), nullptr));
    camera->queueFrames(1);
    auto b = frames.next()->imageBuffer;
    auto green = [&](int y) { return (*b->storage())[size_t(y) * b->bytesPerRow() + 320 * 4 + 1]; };
    // Scaled to cover and cropped: no black bars above and below.
    for (int y : {0, 30, 240, 450, 479})
        EXPECT_EQ(green(y), 255) << y;
}

TEST(V4L2CaptureDeviceFrames, AThrottleDropsFramesThatComeTooSoon) {
    auto camera = uvcWebcam();
    camera->framesPerSecond = 30;
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    configure(*device, [&] {
        device->setActiveVideoMinFrameDuration(CMTime{1, 5});
        device->setActiveVideoMaxFrameDuration(CMTime{1, 1});
    });
    FrameRecorder frames;
    ASSERT_TRUE(device->startStreaming(frames.handler(), nullptr));
    ASSERT_TRUE(frames.waitFor(7, 5s));
    device->stopStreaming();
    EXPECT_LT(rateOf(frames.values(), 0), 5.3);
    EXPECT_GT(rateOf(frames.values(), 0), 4.0);
}

TEST(V4L2CaptureDeviceFrames, AFailureWhileStreamingIsReportedOnceAndStopsTheDevice) {
    auto camera = uvcWebcam();
    camera->failAfterFrames = 2;
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    Recording<NSError> failures;
    device->setFailureHandler([failures](const NSError& error) mutable { failures.add(error); });
    FrameRecorder frames;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(device->startStreaming(frames.handler(), nullptr));
    camera->queueFrames(5);
    ASSERT_TRUE(failures.waitFor(1));
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(frames.count(), 2u);
    EXPECT_TRUE(device->hasFailed());
    EXPECT_FALSE(device->isStreaming());
    const NSError failure = failures.values().front();
    EXPECT_EQ(failure.code(), int(CaptureErrorCode::deviceFailed));
    EXPECT_NE(failure.localizedDescription().find("No such device"), std::string::npos);
    EXPECT_NE(stderrText.find("/dev/video7"), std::string::npos);
    EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1);

    NSError again;
    EXPECT_FALSE(device->startStreaming(frames.handler(), &again));
    EXPECT_EQ(again.localizedDescription(), failure.localizedDescription());
    camera->queueFrames(2);
    EXPECT_FALSE(frames.waitFor(3, 200ms));
    EXPECT_EQ(failures.count(), 1u);
}
