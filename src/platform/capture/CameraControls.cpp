#include "capture/CameraControls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cctype>
#include <charconv>

std::string CameraControl::flagText() const {
    std::string text;
    for (auto [on, word] : {std::pair{inactive, "inactive"}, {grabbed, "grabbed"}, {readOnly, "read-only"}})
        if (on) {
            // Appended piece by piece: GCC 12 at -O3 misreads a concatenation here as an
            // overlapping copy (-Wrestrict).
            if (!text.empty())
                text += ',';
            text += word;
        }
    return text;
}

void CameraControls::resetToDefaults() {
    std::vector<CameraControl> all = controls();
    // Switches and menus (the automatic modes) before the values they govern.
    std::stable_partition(all.begin(), all.end(),
                          [](const CameraControl& c) { return c.kind != CameraControlKind::integer; });
    for (const CameraControl& c : all)
        if (c.writable() && c.value != c.defaultValue)
            setValue(c.id, c.defaultValue);
    // What was refused while its switch was still manual goes through now.
    for (const CameraControl& c : controls())
        if (c.writable() && !c.inactive && c.value != c.defaultValue)
            setValue(c.id, c.defaultValue);
}

std::optional<CameraControl> CameraControls::find(const std::string& nameOrId) const {
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return s;
    };
    std::optional<uint32_t> id;
    const bool hex = nameOrId.size() > 2 && nameOrId[0] == '0' && (nameOrId[1] == 'x' || nameOrId[1] == 'X');
    const char* first = nameOrId.data() + (hex ? 2 : 0);
    const char* last = nameOrId.data() + nameOrId.size();
    uint32_t parsed = 0;
    if (auto [end, error] = std::from_chars(first, last, parsed, hex ? 16 : 10);
        error == std::errc{} && end == last && first != last)
        id = parsed;
    for (const CameraControl& c : controls())
        if (id ? c.id == *id : lower(c.name) == lower(nameOrId))
            return c;
    return std::nullopt;
}

void CameraControls::addChangeHandler(ChangeHandler handler) {
    std::lock_guard lock(handlerMutex_);
    handlers_.push_back(std::move(handler));
}

void CameraControls::changed() {
    std::vector<ChangeHandler> handlers;
    {
        std::lock_guard lock(handlerMutex_);
        handlers = handlers_;
    }
    for (const ChangeHandler& handler : handlers)
        handler();
}

std::string controlGroupName(uint32_t id) {
    switch (V4L2_CTRL_ID2CLASS(id)) {
    case V4L2_CTRL_CLASS_USER:
        return "User Controls";
    case V4L2_CTRL_CLASS_CAMERA:
        return "Camera Controls";
    case V4L2_CTRL_CLASS_IMAGE_PROC:
        return "Image Processing Controls";
    case V4L2_CTRL_CLASS_IMAGE_SOURCE:
        return "Image Source Controls";
    default:
        return "Other Controls";
    }
}
