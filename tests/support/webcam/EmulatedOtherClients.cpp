// What V4L2 programs other than libv4l2 and fernhold call on a node, answered so that they
// take an emulated node for a real one: v4l2-ctl and GStreamer stat() the path and expect a
// character device of the video4linux major (81); v4l2-ctl, ffmpeg and GStreamer map the
// buffers with libc's mmap() and wait for frames with select(), poll() or ppoll().
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <tuple>
#include <vector>

#include "EmulatedHandle.h"

namespace {
using namespace webcam;

constexpr unsigned videoMajor = 81;

// A node's status as the kernel gives it for a character device; false when `path` (or
// `fd`) is no emulated node that is there.
template <typename Stat> bool nodeStatus(const char* path, int fd, Stat* out) {
    uint32_t number = 0;
    if (auto handle = fd >= 0 ? find(fd) : nullptr) {
        number = handle->number();
    } else {
        const std::string name = fd < 0 ? nodeOf(path) : "";
        const char* dir = getenv("FERNHOLD_EMULATED_DEV");
        if (name.empty() || !dir || access((std::string(dir) + "/" + name).c_str(), F_OK) != 0)
            return false;
        number = uint32_t(std::stoul(name.substr(5)));
    }
    *out = Stat{};
    out->st_mode = S_IFCHR | 0660;
    out->st_rdev = makedev(videoMajor, number);
    out->st_ino = 0x7f000000 + number;
    out->st_nlink = 1;
    out->st_blksize = 4096;
    return true;
}

// select() as poll() over the same descriptors.
int selectEmulated(int n, fd_set* read, fd_set* write, fd_set* except, int timeoutMs, bool& emulated) {
    // Each set, what poll() is asked for it, and what poll() answers that marks a descriptor there.
    const std::tuple<fd_set*, short, short> sets[] = {{read, POLLIN, POLLIN | POLLERR | POLLHUP},
                                                      {write, POLLOUT, POLLOUT | POLLERR},
                                                      {except, POLLPRI, POLLPRI}};
    std::vector<pollfd> fds;
    for (int fd = 0; fd < n; ++fd) {
        short events = 0;
        for (auto [set, asked, answered] : sets)
            events |= set && FD_ISSET(fd, set) ? asked : 0;
        if (events)
            fds.push_back({fd, events, 0});
    }
    const int woken = pollEmulated(fds.data(), fds.size(), timeoutMs, emulated);
    if (!emulated || woken < 0)
        return woken;
    int ready = 0;
    for (auto [set, asked, answered] : sets) {
        if (set)
            FD_ZERO(set);
        for (const pollfd& p : fds)
            if (set && (p.revents & answered))
                FD_SET(p.fd, set), ++ready;
    }
    return ready;
}

int milliseconds(const timespec* t) {
    return t ? int(t->tv_sec * 1000 + (t->tv_nsec + 999'999) / 1'000'000) : -1;
}

} // namespace

// glibc declares the paths non-null, but a program may still pass null: the real function
// answers that (EFAULT), so the stand-ins look before they use one.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpointer-bool-conversion"
#else
#pragma GCC diagnostic ignored "-Wnonnull-compare"
#endif

// Every name glibc 2.36 and older programs stat through; the 64-bit forms are the same
// structures on the 64-bit machines this runs on.
#define STAT(name, params, path, fd, out, real)                                                              \
    int name params noexcept {                                                                               \
        return nodeStatus(path, fd, out) ? 0 : real;                                                         \
    }

extern "C" {
STAT(stat, (const char* p, struct stat* s), p, -1, s, REAL(stat)(p, s))
STAT(stat64, (const char* p, struct stat64* s), p, -1, s, REAL(stat64)(p, s))
STAT(lstat, (const char* p, struct stat* s), p, -1, s, REAL(lstat)(p, s))
STAT(lstat64, (const char* p, struct stat64* s), p, -1, s, REAL(lstat64)(p, s))
STAT(fstat, (int f, struct stat* s), nullptr, f, s, REAL(fstat)(f, s))
STAT(fstat64, (int f, struct stat64* s), nullptr, f, s, REAL(fstat64)(f, s))
STAT(fstatat, (int d, const char* p, struct stat* s, int fl), p, p&&* p ? -1 : d, s,
     REAL(fstatat)(d, p, s, fl))
STAT(fstatat64, (int d, const char* p, struct stat64* s, int fl), p, p&&* p ? -1 : d, s,
     REAL(fstatat64)(d, p, s, fl))

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) noexcept {
    if (auto handle = find(fd))
        return handle->map(addr, length, prot, flags, offset);
    return REAL(mmap)(addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) noexcept {
    return mmap(addr, length, prot, flags, fd, off_t(offset));
}

int ppoll(pollfd* fds, nfds_t n, const timespec* timeout, const sigset_t* mask) {
    bool emulated = false;
    const int ready = pollEmulated(fds, n, milliseconds(timeout), emulated);
    return emulated ? ready : REAL(ppoll)(fds, n, timeout, mask);
}

int select(int n, fd_set* read, fd_set* write, fd_set* except, timeval* timeout) {
    bool emulated = false;
    const int ms = timeout ? int(timeout->tv_sec * 1000 + (timeout->tv_usec + 999) / 1000) : -1;
    const int ready = selectEmulated(n, read, write, except, ms, emulated);
    return emulated ? ready : REAL(select)(n, read, write, except, timeout);
}
} // extern "C"
