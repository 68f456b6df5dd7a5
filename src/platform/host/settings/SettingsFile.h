#pragma once
// The file Fernhold keeps its settings in: plain text a person can edit, sections of
// `key = value` lines,
//
//   [fernhold]
//   size = 1280x720
//   [camera Fernhold Emulated Webcam @ usb-0000:00:14.0-1]
//   Brightness = 12
//
// `#` starts a comment line. It is written whole to a temporary file beside it and renamed
// into place, so a crash never leaves half a file; a file that cannot be parsed is kept
// beside as FILE.bad and defaults are used; a folder that cannot be written means nothing
// is saved. Each of these is one line on standard error.
//
// Threads: one object per thread; the store hands saving to its own queue.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace host {

using SettingsSection = std::map<std::string, std::string>;
using SettingsDocument = std::map<std::string, SettingsSection>;

// Nullopt with `problem` ("line N: ...") for text that is not sections of key = value lines.
std::optional<SettingsDocument> parseSettings(std::string_view text, std::string* problem);
std::string formatSettings(const SettingsDocument& document);

class SettingsFile {
  public:
    explicit SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}
    const std::filesystem::path& path() const { return path_; }

    // What the file holds; empty when it is not there or cannot be parsed (then kept as .bad).
    SettingsDocument load() const;
    // Writes `document` in place of the file; false (one line said, once) when it cannot.
    bool save(const SettingsDocument& document);

  private:
    std::filesystem::path path_;
    bool refusalReported_ = false;
};

// $XDG_CONFIG_HOME/fernhold/settings.ini, else ~/.config/fernhold/settings.ini.
std::filesystem::path defaultSettingsPath();

} // namespace host
