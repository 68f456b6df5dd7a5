// The webcam device against a fake V4L2 camera modelled on a UVC webcam: how properties
// map onto controls (units, ranges, steps, menus, read-back), what a missing control
// takes away, changes made by another program, frames, and failure while streaming.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <deque>
#include <map>

#include "CaptureTestSupport.h"
#include "capture/CaptureError.h"
#include "capture/V4L2CaptureDevice.h"

using namespace capturetest;
using namespace std::chrono_literals;

namespace {

// The camera's state, shared between the test and the V4L2Io the device owns.
struct FakeCamera {
    struct Control {
        V4L2ControlInfo info;
        int32_t value;
        std::vector<V4L2MenuEntry> menu;
    };
    std::mutex mutex;
    std::condition_variable activity;
    std::map<uint32_t, Control> controls;
    std::vector<uint32_t> subscribed;
    std::vector<std::pair<uint32_t, int32_t>> writes;
    std::deque<V4L2ControlEvent> events;
    V4L2Format granted{640, 480, 640 * 3};
    int framesQueued = 0;
    int failAfterFrames = -1; // readFrame fails with ENODEV once this many were read
    int framesRead = 0;
    double framesPerSecond = 0; // when set, frames come on their own at this rate
    std::chrono::steady_clock::time_point nextFrame{};
    bool streaming = false;
    bool woken = false;

    void add(uint32_t id, uint32_t type, int32_t min, int32_t max, int32_t step, int32_t value,
             std::vector<V4L2MenuEntry> menu = {}) {
        controls[id] = {{id, type, min, max, step, value, 0, "control " + std::to_string(id)}, value, std::move(menu)};
    }
    // Another program changes a control: the value moves and an event is queued.
    void changeElsewhere(uint32_t id, int32_t value) {
        std::lock_guard lock(mutex);
        controls.at(id).value = value;
        if (std::find(subscribed.begin(), subscribed.end(), id) != subscribed.end())
            events.push_back({id, value, V4L2_EVENT_CTRL_CH_VALUE});
        activity.notify_all();
    }
    void queueFrames(int n) {
        std::lock_guard lock(mutex);
        framesQueued += n;
        activity.notify_all();
    }
    int32_t value(uint32_t id) {
        std::lock_guard lock(mutex);
        return controls.at(id).value;
    }
};

// A webcam much like common UVC models, with a coarse gain step to make rounding visible.
std::shared_ptr<FakeCamera> uvcWebcam() {
    auto camera = std::make_shared<FakeCamera>();
    camera->add(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY,
                {{1, "Manual Mode", 0}, {3, "Aperture Priority Mode", 0}});
    camera->add(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, 3, 2047, 1, 156);
    camera->add(V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, 0, 255, 5, 64);
    camera->add(V4L2_CID_AUTO_EXPOSURE_BIAS, V4L2_CTRL_TYPE_INTEGER_MENU, 0, 4, 1, 2,
                {{0, "", -2000}, {1, "", -1000}, {2, "", 0}, {3, "", 1000}, {4, "", 2000}});
    camera->add(V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 1);
    camera->add(V4L2_CID_FOCUS_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, 0, 250, 5, 0);
    camera->add(V4L2_CID_ZOOM_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, 100, 500, 1, 100);
    camera->add(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 1);
    return camera;
}

class FakeV4L2Io : public V4L2Io {
public:
    explicit FakeV4L2Io(std::shared_ptr<FakeCamera> camera) : camera_(std::move(camera)) {}
    std::string cardName() const override { return "Fake Webcam"; }

    std::optional<V4L2ControlInfo> queryControl(uint32_t id) override {
        std::lock_guard lock(camera_->mutex);
        auto c = camera_->controls.find(id);
        return c == camera_->controls.end() ? std::nullopt : std::optional(c->second.info);
    }
    std::vector<V4L2MenuEntry> queryMenu(const V4L2ControlInfo& control) override {
        std::lock_guard lock(camera_->mutex);
        return camera_->controls.at(control.id).menu;
    }
    int getControl(uint32_t id, int32_t& value) override {
        std::lock_guard lock(camera_->mutex);
        auto c = camera_->controls.find(id);
        if (c == camera_->controls.end()) return EINVAL;
        value = c->second.value;
        return 0;
    }
    // As drivers do: menus accept listed entries only, integers clamp and snap to the step.
    int setControl(uint32_t id, int32_t value) override {
        std::lock_guard lock(camera_->mutex);
        auto c = camera_->controls.find(id);
        if (c == camera_->controls.end()) return EINVAL;
        auto& control = c->second;
        camera_->writes.emplace_back(id, value);
        if (!control.menu.empty()) {
            bool listed = std::any_of(control.menu.begin(), control.menu.end(),
                                      [&](auto& e) { return e.index == uint32_t(value); });
            if (!listed) return EINVAL;
            control.value = value;
            return 0;
        }
        const auto& i = control.info;
        value = std::clamp(value, i.minimum, i.maximum);
        control.value = i.minimum + (value - i.minimum + i.step / 2) / i.step * i.step;
        return 0;
    }
    int subscribeControlEvents(uint32_t id) override {
        std::lock_guard lock(camera_->mutex);
        camera_->subscribed.push_back(id);
        return 0;
    }
    std::optional<V4L2ControlEvent> dequeueEvent() override {
        std::lock_guard lock(camera_->mutex);
        if (camera_->events.empty()) return std::nullopt;
        auto e = camera_->events.front();
        camera_->events.pop_front();
        return e;
    }
    int setFormat(V4L2Format& format) override {
        std::lock_guard lock(camera_->mutex);
        format = camera_->granted;
        return 0;
    }
    int startStreaming() override {
        std::lock_guard lock(camera_->mutex);
        camera_->streaming = true;
        camera_->nextFrame = std::chrono::steady_clock::now();
        return 0;
    }
    int stopStreaming() override {
        std::lock_guard lock(camera_->mutex);
        camera_->streaming = false;
        return 0;
    }
    int waitForActivity(bool wantFrame, Activity& activity) override {
        std::unique_lock lock(camera_->mutex);
        auto ready = [&] {
            return camera_->woken || !camera_->events.empty() || (wantFrame && camera_->framesQueued > 0);
        };
        if (wantFrame && camera_->framesPerSecond > 0) {
            // A free-running camera: the next frame is ready at its due time.
            if (!camera_->activity.wait_until(lock, camera_->nextFrame, ready)) {
                ++camera_->framesQueued;
                camera_->nextFrame += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(1.0 / camera_->framesPerSecond));
            }
        } else {
            camera_->activity.wait(lock, ready);
        }
        camera_->woken = false;
        activity.event = !camera_->events.empty();
        activity.frame = wantFrame && camera_->framesQueued > 0;
        return 0;
    }
    void wake() override {
        std::lock_guard lock(camera_->mutex);
        camera_->woken = true;
        camera_->activity.notify_all();
    }
    // Frame n has every pixel (n, 2n, 3n) mod 256; a granted size other than 640 × 480
    // gets a white picture instead.
    int readFrame(std::vector<uint8_t>& rgb) override {
        std::lock_guard lock(camera_->mutex);
        if (camera_->framesQueued == 0) return EAGAIN;
        --camera_->framesQueued;
        if (camera_->failAfterFrames >= 0 && camera_->framesRead >= camera_->failAfterFrames) return ENODEV;
        const int n = ++camera_->framesRead;
        const auto& f = camera_->granted;
        rgb.assign(size_t(f.bytesPerLine) * f.height, 255);
        if (f.width == 640 && f.height == 480)
            for (size_t i = 0; i < rgb.size(); i += 3) {
                rgb[i] = uint8_t(n);
                rgb[i + 1] = uint8_t(2 * n);
                rgb[i + 2] = uint8_t(3 * n);
            }
        return 0;
    }

private:
    std::shared_ptr<FakeCamera> camera_;
};

std::shared_ptr<V4L2CaptureDevice> openFake(const std::shared_ptr<FakeCamera>& camera) {
    NSError error;
    auto device = V4L2CaptureDevice::open(std::make_unique<FakeV4L2Io>(camera), "/dev/video7", &error);
    if (!device) ADD_FAILURE() << error.localizedDescription();
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
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 1.0);
    EXPECT_EQ(device->whiteBalanceMode(), AVCaptureWhiteBalanceMode::continuousAutoWhiteBalance);
    std::lock_guard lock(camera->mutex);
    EXPECT_EQ(camera->subscribed.size(), 8u);
}

TEST(V4L2CaptureDeviceControls, WritesUseTheControlsUnitsAndPublishWhatTheDriverKept) {
    auto camera = uvcWebcam();
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    configure(*device, [&] {
        // 1/3000 s is 3.3 units of 100 µs: the camera keeps 3. ISO 800 is gain 125.5,
        // which the step of 5 makes 125.
        device->setExposureModeCustomWithDuration(CMTimeMakeWithSeconds(1.0 / 3000, 1000000), 800, nullptr);
    });
    EXPECT_EQ(camera->value(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(camera->value(V4L2_CID_EXPOSURE_ABSOLUTE), 3);
    EXPECT_EQ(camera->value(V4L2_CID_GAIN), 125);
    EXPECT_EQ(device->exposureMode(), AVCaptureExposureMode::custom);
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
    std::lock_guard lock(camera->mutex);
    for (auto [id, value] : camera->writes) { // only listed menu entries were ever written
        if (id == V4L2_CID_EXPOSURE_AUTO) {
            EXPECT_TRUE(value == 1 || value == 3) << value;
        }
    }
}

TEST(V4L2CaptureDeviceControls, MissingControlsTakeTheirModesAway) {
    auto camera = std::make_shared<FakeCamera>();
    // A basic webcam: fixed focus, automatic exposure only, no zoom, no gain.
    camera->add(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, 0, 3, 1, V4L2_EXPOSURE_AUTO, {{0, "Auto Mode", 0}});
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->isFocusModeSupported(AVCaptureFocusMode::continuousAutoFocus));
    EXPECT_FALSE(device->isFocusModeSupported(AVCaptureFocusMode::autoFocus));
    EXPECT_TRUE(device->isFocusModeSupported(AVCaptureFocusMode::locked)); // nothing to unlock
    EXPECT_FALSE(device->isLockingFocusWithCustomLensPositionSupported());
    EXPECT_TRUE(device->isExposureModeSupported(AVCaptureExposureMode::continuousAutoExposure));
    EXPECT_FALSE(device->isExposureModeSupported(AVCaptureExposureMode::locked));
    EXPECT_FALSE(device->isExposureModeSupported(AVCaptureExposureMode::custom));
    EXPECT_FLOAT_EQ(device->minExposureTargetBias(), 0);
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
    camera->changeElsewhere(V4L2_CID_GAIN, 255);
    camera->changeElsewhere(V4L2_CID_FOCUS_AUTO, 0);
    camera->changeElsewhere(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
    ASSERT_TRUE(iso.waitFor(1));
    ASSERT_TRUE(focus.waitFor(1));
    ASSERT_TRUE(exposure.waitFor(1));
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
    for (const auto& a : frames.arrivals()) {
        const auto& b = a.sample->imageBuffer;
        ASSERT_EQ(b->width(), 640);
        const uint8_t* p = &(*b->storage())[size_t(200) * b->bytesPerRow() + 300 * 4];
        const uint8_t n = uint8_t(a.sample->frameNumber);
        EXPECT_EQ(p[0], n);
        EXPECT_EQ(p[1], uint8_t(2 * n));
        EXPECT_EQ(p[2], uint8_t(3 * n));
        EXPECT_EQ(p[3], 255);
    }
    device->stopStreaming();

    auto wide = uvcWebcam();
    wide->granted = {1280, 720, 1280 * 3};
    auto hd = openFake(wide);
    ASSERT_TRUE(hd);
    FrameRecorder hdFrames;
    ASSERT_TRUE(hd->startStreaming(hdFrames.handler(), nullptr));
    wide->queueFrames(1);
    ASSERT_TRUE(hdFrames.waitFor(1));
    const auto& b = hdFrames.last()->imageBuffer;
    auto luma = [&](int x, int y) { return (*b->storage())[size_t(y) * b->bytesPerRow() + size_t(x) * 4 + 1]; };
    EXPECT_EQ(luma(320, 30), 0);   // black above the 640 × 360 picture
    EXPECT_EQ(luma(320, 240), 255);
    EXPECT_EQ(luma(320, 450), 0);  // and below it
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
    auto arrivals = frames.arrivals();
    const double seconds = std::chrono::duration<double>(arrivals.back().at - arrivals.front().at).count();
    EXPECT_LT(double(arrivals.size() - 1) / seconds, 5.3);
    EXPECT_GT(double(arrivals.size() - 1) / seconds, 4.0);
}

TEST(V4L2CaptureDeviceFrames, AFailureWhileStreamingIsReportedOnceAndStopsTheDevice) {
    auto camera = uvcWebcam();
    camera->failAfterFrames = 2;
    auto device = openFake(camera);
    ASSERT_TRUE(device);
    std::mutex m;
    std::condition_variable reported;
    std::vector<NSError> failures;
    device->setFailureHandler([&](const NSError& error) {
        std::lock_guard lock(m);
        failures.push_back(error);
        reported.notify_all();
    });
    FrameRecorder frames;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(device->startStreaming(frames.handler(), nullptr));
    camera->queueFrames(5);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(reported.wait_for(lock, 5s, [&] { return !failures.empty(); }));
    }
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(frames.count(), 2u);
    EXPECT_TRUE(device->hasFailed());
    EXPECT_FALSE(device->isStreaming());
    EXPECT_EQ(failures.front().code(), int(CaptureErrorCode::deviceFailed));
    EXPECT_NE(failures.front().localizedDescription().find("No such device"), std::string::npos);
    EXPECT_NE(stderrText.find("/dev/video7"), std::string::npos);
    EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1);

    NSError again;
    EXPECT_FALSE(device->startStreaming(frames.handler(), &again));
    EXPECT_EQ(again.localizedDescription(), failures.front().localizedDescription());
    camera->queueFrames(2);
    EXPECT_FALSE(frames.waitFor(3, 200ms));
    std::lock_guard lock(m);
    EXPECT_EQ(failures.size(), 1u);
}
