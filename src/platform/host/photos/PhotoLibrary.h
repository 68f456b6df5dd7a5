#pragma once
// Where the shutter's photos go and how they are written: one folder for the run, names
// that sort by the time they were taken, JPEG at quality 92, and a file that appears
// whole or not at all (written under a temporary name in the same folder, then renamed
// without ever replacing a file that is there).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace host {

// The folder photos go to: `requested` (--photos, made absolute) when given; otherwise the desktop's
// Pictures folder as the XDG user-dirs file names it, plus /Fernhold; otherwise
// ~/Pictures/Fernhold. Read from the environment (HOME, XDG_CONFIG_HOME).
std::filesystem::path photoFolder(const std::optional<std::string>& requested);
// The same rules for another of the desktop's folders: `xdgKey` ("XDG_VIDEOS_DIR") plus
// /Fernhold, else ~/`fallback`/Fernhold.
std::filesystem::path userMediaFolder(const std::optional<std::string>& requested, const std::string& xdgKey,
                                      const std::string& fallback);

// "fernhold-2026-12-07-064512-345.jpg": local time to the millisecond, so that names sort
// as the photos were taken. `attempt` > 1 is a second photo in the same millisecond
// ("…-345_2.jpg", which sorts after the first). Recordings take the same names as .mp4.
std::string photoName(std::chrono::system_clock::time_point taken, int attempt = 1,
                      const char* extension = "jpg");

class PhotoLibrary {
  public:
    static constexpr int jpegQuality = 92;

    explicit PhotoLibrary(std::filesystem::path folder) : folder_(std::move(folder)) {}

    struct Result {
        bool saved = false;
        std::filesystem::path path; // where it was saved
        std::string problem;        // why not
    };
    // Any thread; photos are written one at a time. Creates the folder when missing.
    Result save(int width, int height, const std::vector<uint8_t>& rgba,
                std::chrono::system_clock::time_point taken = std::chrono::system_clock::now());

    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::mutex mutex_;
    std::filesystem::path folder_;
};

} // namespace host
