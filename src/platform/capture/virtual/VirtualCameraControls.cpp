#include "capture/virtual/VirtualCameraControls.h"

#include <linux/videodev2.h>

#include <algorithm>

namespace {

CameraControl make(uint32_t id, const char* name, CameraControlKind kind, int64_t minimum, int64_t maximum,
                   int64_t step, int64_t defaultValue) {
    CameraControl c;
    c.id = id, c.name = name, c.group = controlGroupName(id), c.kind = kind;
    c.minimum = minimum, c.maximum = maximum, c.step = step, c.defaultValue = c.value = defaultValue;
    return c;
}

} // namespace

VirtualCameraControls::VirtualCameraControls(Observable<AVCaptureWhiteBalanceMode>& whiteBalanceMode)
    : whiteBalanceMode_(&whiteBalanceMode) {
    controls_.push_back(make(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic",
                             CameraControlKind::boolean, 0, 1, 1, 1));
    CameraControl mains = make(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", CameraControlKind::menu,
                               0, 2, 1, V4L2_CID_POWER_LINE_FREQUENCY_DISABLED);
    mains.menu = {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
    controls_.push_back(mains);
    CameraControl temperature = make(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature",
                                     CameraControlKind::integer, 2800, 6500, 10, 5000);
    controls_.push_back(temperature);
}

void VirtualCameraControls::detach() {
    std::lock_guard lock(mutex_);
    whiteBalanceMode_ = nullptr;
}

// With the mutex held, which keeps the device's property from going meanwhile.
bool VirtualCameraControls::automaticWhiteBalance() const {
    return !whiteBalanceMode_ || whiteBalanceMode_->get() != AVCaptureWhiteBalanceMode::locked;
}

std::vector<CameraControl> VirtualCameraControls::current() const {
    const bool automatic = automaticWhiteBalance();
    std::vector<CameraControl> now = controls_;
    for (CameraControl& c : now) {
        if (c.id == V4L2_CID_AUTO_WHITE_BALANCE)
            c.value = automatic;
        else if (c.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE)
            c.inactive = automatic;
    }
    return now;
}

std::vector<CameraControl> VirtualCameraControls::controls() const {
    std::lock_guard lock(mutex_);
    return current();
}

std::string VirtualCameraControls::setValue(uint32_t id, int64_t value) {
    {
        std::lock_guard lock(mutex_);
        const auto now = current();
        const auto c = std::find_if(now.begin(), now.end(), [id](auto& c) { return c.id == id; });
        if (c == now.end())
            return "the camera has no such control";
        if (c->inactive)
            return "the control is inactive while its automatic mode is on";
        if (c->kind == CameraControlKind::menu && (value < c->minimum || value > c->maximum))
            return "no such menu item";
        if (id == V4L2_CID_AUTO_WHITE_BALANCE && !whiteBalanceMode_)
            return "the camera is gone";
        // Set with the lock held (against a detach): its observers only print and queue.
        if (id == V4L2_CID_AUTO_WHITE_BALANCE)
            whiteBalanceMode_->set(value ? AVCaptureWhiteBalanceMode::continuousAutoWhiteBalance
                                         : AVCaptureWhiteBalanceMode::locked);
        // Clamped and rounded to the step, as a driver does.
        value = std::clamp(value, c->minimum, c->maximum);
        controls_[size_t(c - now.begin())].value =
            c->minimum + (value - c->minimum + c->step / 2) / c->step * c->step;
    }
    changed();
    return {};
}

sensor::Development VirtualCameraControls::development() const {
    std::lock_guard lock(mutex_);
    sensor::Development d;
    const bool automatic = automaticWhiteBalance();
    for (const CameraControl& c : controls_) { // not copied: this runs once a frame
        if (c.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE && !automatic)
            d.channelGains = sensor::whiteBalanceGains(double(c.value));
        else if (c.id == V4L2_CID_POWER_LINE_FREQUENCY)
            d.mainsHz = c.value == V4L2_CID_POWER_LINE_FREQUENCY_50HZ   ? 50
                        : c.value == V4L2_CID_POWER_LINE_FREQUENCY_60HZ ? 60
                                                                        : 0;
    }
    return d;
}
