#include "host/photos/PhotoLibrary.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "foundation/HomeFolder.h"
#include "host/screen/JpegFile.h"

namespace host {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The user-dirs file's `key` (XDG_PICTURES_DIR=): "$HOME/…" or an absolute path, in double
// quotes. A value that is the home folder itself means the user has no such folder.
std::optional<std::filesystem::path> xdgUserFolder(const std::string& home, const std::string& key) {
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/')
        config = home + "/.config";
    std::ifstream file(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(file, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
            return std::nullopt;
        value = value.substr(1, value.size() - 2);
        if (value.starts_with("$HOME"))
            value = home + value.substr(5);
        if (value.empty() || value.front() != '/')
            return std::nullopt;
        std::filesystem::path folder = std::filesystem::path(value).lexically_normal();
        if (folder == std::filesystem::path(home).lexically_normal() ||
            folder == std::filesystem::path(home + "/").lexically_normal())
            return std::nullopt;
        return folder;
    }
    return std::nullopt;
}

bool writeAll(int descriptor, const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

// A file system without the no-replace rename gets a hard link, which never replaces either.
bool moveWithoutReplacing(const std::string& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

} // namespace

std::filesystem::path photoFolder(const std::optional<std::string>& requested) {
    return userMediaFolder(requested, "XDG_PICTURES_DIR", "Pictures");
}

std::filesystem::path userMediaFolder(const std::optional<std::string>& requested, const std::string& xdgKey,
                                      const std::string& fallback) {
    if (requested) {
        std::error_code ignored; // a path that cannot be made absolute is used as given
        const std::filesystem::path absolute = std::filesystem::absolute(*requested, ignored);
        return absolute.empty() ? std::filesystem::path(*requested) : absolute.lexically_normal();
    }
    const std::string home = foundation::homeFolder().string();
    if (auto folder = xdgUserFolder(home, xdgKey + "="))
        return *folder / "Fernhold";
    return std::filesystem::path(home) / fallback / "Fernhold";
}

std::string photoName(std::chrono::system_clock::time_point taken, int attempt, const char* extension) {
    const auto sinceEpoch = taken.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const long milliseconds =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    char name[96];
    if (attempt > 1)
        std::snprintf(name, sizeof name, "fernhold-%s-%03ld_%d.%s", stamp, milliseconds, attempt, extension);
    else
        std::snprintf(name, sizeof name, "fernhold-%s-%03ld.%s", stamp, milliseconds, extension);
    return name;
}

PhotoLibrary::Result PhotoLibrary::save(int width, int height, const std::vector<uint8_t>& rgba,
                                        std::chrono::system_clock::time_point taken) {
    Result result;
    std::vector<uint8_t> jpeg;
    if (!encodeJpeg(width, height, rgba, jpegQuality, jpeg, result.problem))
        return result;
    std::lock_guard lock(mutex_);
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error) {
        result.problem = "cannot create " + folder_.string() + ": " + error.message();
        return result;
    }
    std::string temporary = (folder_ / ".fernhold-photo-XXXXXX").string();
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        result.problem = "cannot write in " + folder_.string() + ": " + std::strerror(errno);
        return result;
    }
    ::fchmod(descriptor, 0644);
    bool written = writeAll(descriptor, jpeg);
    const int writeErrno = errno;
    written = ::close(descriptor) == 0 && written;
    if (!written) {
        ::unlink(temporary.c_str());
        result.problem = "cannot write in " + folder_.string() + ": " + std::strerror(writeErrno);
        return result;
    }
    // renameat2's no-replace keeps every earlier photo; a name taken moves on to the next.
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const std::filesystem::path path = folder_ / photoName(taken, attempt);
        if (moveWithoutReplacing(temporary, path)) {
            result.saved = true;
            result.path = path;
            return result;
        }
        if (errno != EEXIST) {
            result.problem = "cannot save " + path.string() + ": " + std::strerror(errno);
            break;
        }
    }
    if (result.problem.empty())
        result.problem = "no free name in " + folder_.string();
    ::unlink(temporary.c_str());
    return result;
}

} // namespace host
