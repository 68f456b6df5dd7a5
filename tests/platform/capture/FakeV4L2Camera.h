#pragma once
// A fake V4L2 camera modelled on a UVC webcam, behind the device's io seam: controls
// behave as drivers make them, frames come when queued or on their own, and reading a
// frame can be made to fail as an unplugged camera does.
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "CaptureTestSupport.h"
#include "capture/V4L2Io.h"

namespace capturetest {

// The camera's state, shared by the test and the V4L2Io the device owns. Controls behave
// as drivers make them: menus take listed entries only, integers clamp and snap to their
// step. Frames come when queued, or on their own at `framesPerSecond`.
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
    std::deque<V4L2ControlEvent> events;
    V4L2Format granted{V4L2_PIX_FMT_RGB24, 640, 480, 640 * 3};
    int framesQueued = 0, framesRead = 0;
    int failAfterFrames = -1; // then readFrame reports ENODEV
    double framesPerSecond = 0;
    Clock::time_point nextFrame{};
    bool woken = false;

    void add(uint32_t id, uint32_t type, int32_t min, int32_t max, int32_t step, int32_t value,
             std::vector<V4L2MenuEntry> menu = {}) {
        controls[id] = {
            {id, type, min, max, step, value, 0, "control " + std::to_string(id)}, value, std::move(menu)};
    }
    int set(uint32_t id, int32_t value) {
        auto& c = controls.at(id);
        if (!c.menu.empty()) {
            if (std::none_of(c.menu.begin(), c.menu.end(),
                             [&](auto& e) { return e.index == uint32_t(value); }))
                return EINVAL;
            c.value = value;
        } else {
            value = std::clamp(value, c.info.minimum, c.info.maximum);
            c.value = c.info.minimum + (value - c.info.minimum + c.info.step / 2) / c.info.step * c.info.step;
        }
        return 0;
    }
    template <typename F> auto locked(F&& f) {
        std::lock_guard lock(mutex);
        return f(*this);
    }
    void changeElsewhere(uint32_t id, int32_t value) { // as another program would
        std::lock_guard lock(mutex);
        controls.at(id).value = value;
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

inline std::shared_ptr<FakeCamera> uvcWebcam() {
    auto camera = std::make_shared<FakeCamera>();
    camera->add(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY,
                {{1, "Manual Mode", 0}, {3, "Aperture Priority Mode", 0}});
    camera->add(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, 3, 2047, 1, 156);
    camera->add(V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, 0, 255, 5, 64); // a coarse step shows rounding
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
    explicit FakeV4L2Io(std::shared_ptr<FakeCamera> camera) : c_(std::move(camera)) {}
    std::string cardName() const override { return "Fake Webcam"; }
    std::string busInfo() const override { return "fake"; }
    std::vector<V4L2Mode> modes() override { return {}; } // only what libv4l2 converts to
    bool canSetFrameInterval() override { return false; }
    int setFrameInterval(V4L2Interval&) override { return ENOTTY; }
    std::optional<V4L2ControlInfo> queryControl(uint32_t id) override {
        return c_->locked([&](auto& c) {
            return c.controls.count(id) ? std::optional(c.controls.at(id).info) : std::nullopt;
        });
    }
    std::vector<V4L2MenuEntry> queryMenu(const V4L2ControlInfo& control) override {
        return c_->locked([&](auto& c) { return c.controls.at(control.id).menu; });
    }
    int getControl(uint32_t id, int32_t& value) override {
        return c_->locked(
            [&](auto& c) { return c.controls.count(id) ? (value = c.controls.at(id).value, 0) : EINVAL; });
    }
    int setControl(uint32_t id, int32_t value) override {
        return c_->locked([&](auto& c) { return c.controls.count(id) ? c.set(id, value) : EINVAL; });
    }
    int subscribeControlEvents(uint32_t id) override {
        return c_->locked([&](auto& c) { return c.subscribed.push_back(id), 0; });
    }
    std::optional<V4L2ControlEvent> dequeueEvent() override {
        return c_->locked([&](auto& c) -> std::optional<V4L2ControlEvent> {
            if (c.events.empty())
                return std::nullopt;
            auto e = c.events.front();
            c.events.pop_front();
            return e;
        });
    }
    int setFormat(V4L2Format& format) override {
        return c_->locked([&](auto& c) { return format = c.granted, 0; });
    }
    int startStreaming() override {
        return c_->locked([&](auto& c) { return c.nextFrame = Clock::now(), 0; });
    }
    int stopStreaming() override { return 0; }
    int waitForActivity(bool wantFrame, int timeoutMs, Activity& activity) override {
        std::unique_lock lock(c_->mutex);
        auto ready = [&] { return c_->woken || !c_->events.empty() || (wantFrame && c_->framesQueued > 0); };
        if (wantFrame && c_->framesPerSecond > 0) {
            if (!c_->activity.wait_until(lock, c_->nextFrame, ready)) { // a free-running camera
                ++c_->framesQueued;
                c_->nextFrame += std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(1.0 / c_->framesPerSecond));
            }
        } else if (timeoutMs < 0) {
            c_->activity.wait(lock, ready);
        } else {
            c_->activity.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        }
        c_->woken = false;
        activity.event = !c_->events.empty();
        activity.frame = wantFrame && c_->framesQueued > 0;
        return 0;
    }
    void wake() override {
        std::lock_guard lock(c_->mutex);
        c_->woken = true;
        c_->activity.notify_all();
    }
    // Frame n is every pixel (n, 2n, 3n); at a size other than 640 × 480, white.
    int readFrame(std::vector<uint8_t>& rgb) override {
        std::lock_guard lock(c_->mutex);
        if (c_->framesQueued == 0)
            return EAGAIN;
        --c_->framesQueued;
        if (c_->failAfterFrames >= 0 && c_->framesRead >= c_->failAfterFrames)
            return ENODEV;
        const int n = ++c_->framesRead;
        rgb.assign(size_t(c_->granted.bytesPerLine) * c_->granted.height, 255);
        for (size_t i = 0; c_->granted.width == 640 && i < rgb.size(); i += 3) {
            rgb[i] = uint8_t(n);
            rgb[i + 1] = uint8_t(2 * n);
            rgb[i + 2] = uint8_t(3 * n);
        }
        return 0;
    }

  private:
    std::shared_ptr<FakeCamera> c_;
};

} // namespace capturetest
