#include "host/settings/SettingsStore.h"

#include <algorithm>
#include <charconv>

#include "foundation/Print.h"

namespace host {
namespace {

constexpr const char* hostSection = "fernhold";
constexpr const char* hostKeys[] = {"camera",   "size",  "window",      "fullscreen", "histogram",
                                    "waveform", "zebra", "zebra level", "peaking"};

std::string cameraSection(const CameraControls& controls) {
    return "camera " + controls.identity();
}

bool inRange(const CameraControl& c, int64_t value) {
    if (c.kind == CameraControlKind::menu || c.kind == CameraControlKind::integerMenu)
        return std::any_of(c.menu.begin(), c.menu.end(), [&](auto& item) { return item.index == value; });
    return value >= c.minimum && value <= c.maximum;
}

} // namespace

SettingsStore::SettingsStore(std::filesystem::path path, bool restore) : file_(std::move(path)) {
    if (!restore)
        return;
    document_ = file_.load();
    for (const auto& [section, values] : document_) {
        if (section.rfind("camera ", 0) == 0)
            continue; // checked against the camera when it opens
        if (section != hostSection) {
            foundation::logError("settings: unknown section [" + section + "] ignored");
            continue;
        }
        for (const auto& [key, value] : values)
            if (std::find(std::begin(hostKeys), std::end(hostKeys), key) == std::end(hostKeys))
                foundation::logError("settings: unknown key '" + key + "' in [" + section + "] ignored");
    }
}

SettingsStore::~SettingsStore() {
    flush();
}

std::optional<std::string> SettingsStore::hostChoice(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto section = document_.find(hostSection);
    if (section == document_.end())
        return std::nullopt;
    auto value = section->second.find(key);
    return value == section->second.end() ? std::nullopt : std::optional(value->second);
}

void SettingsStore::setHostChoice(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    std::string& kept = document_[hostSection][key];
    if (kept == value)
        return;
    kept = value;
    saveLater();
}

void SettingsStore::adoptCamera(const std::shared_ptr<CameraControls>& controls) {
    if (!controls)
        return;
    const std::string section = cameraSection(*controls);
    SettingsSection saved;
    {
        std::lock_guard lock(mutex_);
        if (auto found = document_.find(section); found != document_.end())
            saved = found->second;
    }
    std::vector<std::pair<CameraControl, int64_t>> wanted;
    for (const auto& [name, text] : saved) {
        const auto control = controls->find(name);
        int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (!control || !control->writable())
            foundation::logError("settings: [" + section + "] has no control '" + name + "'; ignored");
        else if (error != std::errc{} || end != text.data() + text.size() || !inRange(*control, value))
            foundation::logError("settings: [" + section + "] " + name + " = " + text +
                                 " is out of the control's range; ignored");
        else
            wanted.emplace_back(*control, value);
    }
    // Automatic switches before the values they govern.
    std::stable_partition(wanted.begin(), wanted.end(),
                          [](auto& w) { return w.first.kind != CameraControlKind::integer; });
    for (const auto& [control, value] : wanted)
        if (const std::string why = controls->setValue(control.id, value); !why.empty())
            foundation::logError("settings: cannot put back " + control.name + " = " + std::to_string(value) +
                                 ": " + why);
    std::weak_ptr<CameraControls> weak = controls;
    controls->addChangeHandler([self = weak_from_this(), weak] {
        auto store = self.lock();
        if (auto alive = weak.lock(); store && alive)
            store->remember(*alive);
    });
}

void SettingsStore::remember(const CameraControls& controls) {
    SettingsSection values;
    for (const CameraControl& c : controls.controls())
        if (c.writable() && !c.inactive && c.value != c.defaultValue)
            values[c.name] = std::to_string(c.value);
    std::lock_guard lock(mutex_);
    SettingsSection& kept = document_[cameraSection(controls)];
    if (kept == values)
        return;
    kept = std::move(values);
    saveLater();
}

void SettingsStore::saveLater() {
    if (savePending_)
        return;
    savePending_ = true;
    queue_.async([this] {
        SettingsDocument snapshot;
        {
            std::lock_guard lock(mutex_);
            savePending_ = false;
            snapshot = document_;
        }
        file_.save(snapshot);
    });
}

void SettingsStore::flush() {
    queue_.sync([] {});
}

} // namespace host
