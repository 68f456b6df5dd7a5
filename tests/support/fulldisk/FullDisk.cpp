// A disk that fills up on cue, preloaded into the program: once FERNHOLD_FULL_DISK_BYTES
// bytes have been written to files whose paths hold one of FERNHOLD_FULL_DISK_NAMES
// (comma-separated; ".mp4" when unset), every further write to them fails with ENOSPC, as
// on a full disk.
#include <dlfcn.h>
#include <errno.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<long long> room{-1};

bool onFullDisk(int descriptor) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return false;
    const std::string path(target, size_t(length));
    const char* names = std::getenv("FERNHOLD_FULL_DISK_NAMES");
    std::string list = names && *names ? names : ".mp4";
    for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(',', start), list.size());
        if (end > start && path.find(list.substr(start, end - start)) != std::string::npos)
            return true;
        start = end + 1;
    }
    return false;
}

// Whether `bytes` more fit; takes them from the room left when they do.
bool fits(int descriptor, size_t bytes) {
    if (room.load() == -1) {
        const char* limit = std::getenv("FERNHOLD_FULL_DISK_BYTES");
        room.store(limit ? std::atoll(limit) : (1LL << 62));
    }
    if (!onFullDisk(descriptor))
        return true;
    if (room.fetch_sub(static_cast<long long>(bytes)) >= static_cast<long long>(bytes))
        return true;
    room.store(0);
    errno = ENOSPC;
    return false;
}

template <typename Function> Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" ssize_t write(int descriptor, const void* data, size_t size) {
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    return fits(descriptor, size) ? next(descriptor, data, size) : -1;
}

extern "C" ssize_t writev(int descriptor, const struct iovec* parts, int count) {
    static auto next = real<ssize_t (*)(int, const struct iovec*, int)>("writev");
    size_t size = 0;
    for (int i = 0; i < count; ++i)
        size += parts[i].iov_len;
    return fits(descriptor, size) ? next(descriptor, parts, count) : -1;
}
