#include "capture/v4l2/V4L2PanelControls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstring>

namespace {

std::optional<CameraControlKind> kindOf(uint32_t type) {
    switch (type) {
    case V4L2_CTRL_TYPE_INTEGER:
        return CameraControlKind::integer;
    case V4L2_CTRL_TYPE_BOOLEAN:
        return CameraControlKind::boolean;
    case V4L2_CTRL_TYPE_MENU:
        return CameraControlKind::menu;
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        return CameraControlKind::integerMenu;
    case V4L2_CTRL_TYPE_BUTTON:
        return CameraControlKind::button;
    default:
        return std::nullopt; // class headings, strings, compound controls: nothing to set by hand
    }
}

void takeFlags(CameraControl& c, uint32_t flags) {
    c.inactive = flags & V4L2_CTRL_FLAG_INACTIVE;
    c.grabbed = flags & V4L2_CTRL_FLAG_GRABBED;
    c.readOnly = flags & V4L2_CTRL_FLAG_READ_ONLY;
}

std::vector<uint32_t> drivenIds(const V4L2ControlMap& map) {
    std::vector<uint32_t> ids;
    for (const auto* c : {&map.exposureAuto, &map.exposureAbsolute, &map.gain, &map.exposureBias,
                          &map.focusAuto, &map.focusStart, &map.focusAbsolute, &map.zoomAbsolute})
        if (*c)
            ids.push_back((*c)->id);
    return ids;
}

} // namespace

V4L2PanelControls::V4L2PanelControls(V4L2Io& camera, const V4L2ControlMap& driven, std::string identity)
    : identity_(std::move(identity)) {
    const std::vector<uint32_t> skip = drivenIds(driven);
    uint32_t after = 0;
    while (auto info = camera.queryNextControl(after)) {
        after = info->id; // first: the skips below go on to the next control
        const auto kind = kindOf(info->type);
        if (!kind || (info->flags & V4L2_CTRL_FLAG_DISABLED) ||
            std::find(skip.begin(), skip.end(), info->id) != skip.end())
            continue;
        CameraControl c;
        c.id = info->id;
        c.name = info->name;
        c.group = controlGroupName(info->id);
        c.kind = *kind;
        c.minimum = info->minimum, c.maximum = info->maximum, c.step = std::max(1, info->step);
        c.defaultValue = c.value = info->defaultValue;
        takeFlags(c, info->flags);
        if (c.kind == CameraControlKind::menu || c.kind == CameraControlKind::integerMenu)
            for (const V4L2MenuEntry& entry : camera.queryMenu(*info))
                c.menu.push_back({entry.index, c.kind == CameraControlKind::menu
                                                   ? entry.name
                                                   : std::to_string(entry.value)});
        int32_t value = 0;
        if (c.kind != CameraControlKind::button && camera.getControl(c.id, value) == 0)
            c.value = value;
        controls_.push_back(std::move(c));
    }
}

std::vector<CameraControl> V4L2PanelControls::controls() const {
    std::lock_guard lock(mutex_);
    return controls_;
}

void V4L2PanelControls::attach(const std::shared_ptr<V4L2Io>& camera) {
    std::lock_guard lock(mutex_);
    camera_ = camera;
}

void V4L2PanelControls::setWriteHandler(WriteHandler handler) {
    std::lock_guard lock(mutex_);
    writeHandler_ = std::move(handler);
}

void V4L2PanelControls::detach() {
    std::lock_guard lock(mutex_);
    camera_.reset();
    writeHandler_ = nullptr;
}

void V4L2PanelControls::subscribe(V4L2Io& camera) const {
    for (const CameraControl& c : controls())
        camera.subscribeControlEvents(c.id);
}

std::string V4L2PanelControls::setValue(uint32_t id, int64_t value) {
    std::shared_ptr<V4L2Io> camera;
    WriteHandler written;
    {
        std::lock_guard lock(mutex_);
        auto c = std::find_if(controls_.begin(), controls_.end(), [id](auto& c) { return c.id == id; });
        if (c == controls_.end())
            return "the camera has no such control";
        if (c->kind == CameraControlKind::integer || c->kind == CameraControlKind::boolean)
            value = std::clamp(value, c->minimum, c->maximum);
        camera = camera_.lock();
        written = writeHandler_;
    }
    if (!camera)
        return "the camera is away";
    if (int error = camera->setControl(id, int32_t(value)))
        return std::strerror(error);
    reread(*camera);
    if (written)
        written(id);
    changed();
    return {};
}

void V4L2PanelControls::reread(V4L2Io& camera) {
    std::vector<CameraControl> now = controls();
    for (CameraControl& c : now) {
        if (auto info = camera.queryControl(c.id))
            takeFlags(c, info->flags);
        int32_t value = 0;
        if (c.kind != CameraControlKind::button && camera.getControl(c.id, value) == 0)
            c.value = value;
    }
    std::lock_guard lock(mutex_);
    controls_ = std::move(now);
}

void V4L2PanelControls::follow(const V4L2ControlEvent& event) {
    {
        std::lock_guard lock(mutex_);
        auto c = std::find_if(controls_.begin(), controls_.end(), [&](auto& c) { return c.id == event.id; });
        if (c == controls_.end())
            return;
        if (event.changes & V4L2_EVENT_CTRL_CH_VALUE)
            c->value = event.value;
        if (event.changes & V4L2_EVENT_CTRL_CH_FLAGS)
            takeFlags(*c, event.flags);
    }
    changed();
}

void V4L2PanelControls::restore(V4L2Io& camera) {
    std::vector<CameraControl> wanted = controls();
    // Automatic switches first: a camera refuses a value while its automatic mode is on.
    std::stable_partition(wanted.begin(), wanted.end(),
                          [](const CameraControl& c) { return c.kind != CameraControlKind::integer; });
    for (const CameraControl& c : wanted)
        if (c.writable() && c.value != c.defaultValue)
            camera.setControl(c.id, int32_t(c.value));
    reread(camera);
    changed();
}
