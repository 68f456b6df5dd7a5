#pragma once
// What Fernhold remembers between runs: the host's own choices (the camera, the picture
// size, the window, the assists) and, per camera, what the person set in the camera
// panel. A camera is known by its identity (card and bus), wherever it is plugged in.
// What the command line asks for wins over what is saved.
//
// Threads: camera changes arrive on the device's thread; everything is kept under one
// mutex and written on the store's own queue, so neither the camera nor the window ever
// waits for the disk. flush() (at the end of a run) waits for the last write.
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/CameraControls.h"
#include "dispatch/DispatchQueue.h"
#include "host/settings/SettingsFile.h"

namespace host {

class SettingsStore : public std::enable_shared_from_this<SettingsStore> {
  public:
    // Reads `path` unless `restore` is false (a run that starts from defaults once).
    SettingsStore(std::filesystem::path path, bool restore);
    ~SettingsStore();

    // The host's choices, under their keys (see SettingsStore.cpp); nullopt when not saved.
    std::optional<std::string> hostChoice(const std::string& key) const;
    void setHostChoice(const std::string& key, const std::string& value);

    // Puts what was saved for this camera into `controls` (before its first frame), then
    // follows what is set there from now on. Saved names the camera lacks and values out of
    // its ranges are ignored, one line each.
    void adoptCamera(const std::shared_ptr<CameraControls>& controls);

    // Writes what is kept now and waits for it.
    void flush();
    const std::filesystem::path& path() const { return file_.path(); }

  private:
    void remember(const CameraControls& controls);
    void saveLater(); // with the mutex held

    mutable std::mutex mutex_;
    SettingsDocument document_;
    SettingsFile file_;
    bool savePending_ = false;
    DispatchQueue queue_{"settings"}; // last: destroyed first
};

} // namespace host
