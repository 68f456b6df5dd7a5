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

VirtualCameraControls::VirtualCameraControls() {
    controls_.push_back(make(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic",
                             CameraControlKind::boolean, 0, 1, 1, 1));
    CameraControl mains = make(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", CameraControlKind::menu,
                               0, 2, 1, V4L2_CID_POWER_LINE_FREQUENCY_DISABLED);
    mains.menu = {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
    controls_.push_back(mains);
    CameraControl temperature = make(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature",
                                     CameraControlKind::integer, 2800, 6500, 10, 5000);
    temperature.inactive = true;
    controls_.push_back(temperature);
}

std::vector<CameraControl> VirtualCameraControls::controls() const {
    std::lock_guard lock(mutex_);
    return controls_;
}

std::string VirtualCameraControls::setValue(uint32_t id, int64_t value) {
    {
        std::lock_guard lock(mutex_);
        auto c = std::find_if(controls_.begin(), controls_.end(), [id](auto& c) { return c.id == id; });
        if (c == controls_.end())
            return "the camera has no such control";
        if (c->inactive)
            return "the control is inactive while its automatic mode is on";
        if (c->kind == CameraControlKind::menu && (value < c->minimum || value > c->maximum))
            return "no such menu item";
        // Clamped and rounded to the step, as a driver does.
        value = std::clamp(value, c->minimum, c->maximum);
        c->value = c->minimum + (value - c->minimum + c->step / 2) / c->step * c->step;
        if (id == V4L2_CID_AUTO_WHITE_BALANCE)
            for (CameraControl& other : controls_)
                if (other.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE)
                    other.inactive = value != 0;
    }
    changed();
    return {};
}

sensor::Development VirtualCameraControls::development() const {
    std::lock_guard lock(mutex_);
    sensor::Development d;
    bool automatic = true;
    for (const CameraControl& c : controls_) {
        if (c.id == V4L2_CID_AUTO_WHITE_BALANCE)
            automatic = c.value != 0;
        else if (c.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE && !automatic)
            d.channelGains = sensor::whiteBalanceGains(double(c.value));
        else if (c.id == V4L2_CID_POWER_LINE_FREQUENCY)
            d.mainsHz = c.value == V4L2_CID_POWER_LINE_FREQUENCY_50HZ   ? 50
                        : c.value == V4L2_CID_POWER_LINE_FREQUENCY_60HZ ? 60
                                                                        : 0;
    }
    return d;
}
