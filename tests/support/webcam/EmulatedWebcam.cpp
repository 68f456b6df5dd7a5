// An emulated UVC webcam for tests, preloaded (LD_PRELOAD) into a program that has no
// real V4L2 to talk to. Each regular file videoN in the folder FERNHOLD_EMULATED_DEV is a
// node the program reaches as /dev/videoN; the program's calls on it (through libc, or
// through syscall() as libv4l2 makes them) are answered here the way uvcvideo answers
// them, and every other call goes on to the real function untouched.
//
// A handle (one open()) is a real eventfd, so poll() blocks on it as on a device; the
// emulator signals it when a buffer is done or an event is queued. Each handle has a
// thread, the camera's clock: a timed wait on the node's doorbell (a futex word in the
// shared state file) until the next frame is due or something changes, in this process or
// another, so an idle handle too hears of another program's control change or an unplug.
//
// Where uvcvideo has a choice of its own, the emulator makes the same one: a write to a
// control whose automatic master is on (exposure time under auto exposure, focus under
// auto focus) fails with EACCES; S_FMT resets the frame interval to the default one;
// S_FMT, REQBUFS and S_PARM fail with EBUSY while buffers are allocated or a stream runs.
//
// What the real libv4l2 (and its plugins) and fernhold call is stood in for here: libv4l2
// makes its kernel calls through syscall(), the program lists /dev through openat() and
// watches it with inotify, and the control tool uses libc's open(), ioctl() and close().
// What other V4L2 programs (v4l2-ctl, ffmpeg, GStreamer) call besides is in
// EmulatedOtherClients.cpp: stat() as a character device, libc's mmap(), select(), ppoll().
#include <signal.h>
#include <sys/inotify.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <memory>

#include "EmulatedHandle.h"

namespace webcam {

// The node ("video3") that /dev/video3 names, or a udev link to it under /dev/v4l; "" for
// any other path.
std::string nodeOf(const char* path) {
    std::string p = path && getenv("FERNHOLD_EMULATED_DEV") ? path : "";
    if (char* target = p.starts_with("/dev/v4l/") ? realpath(path, nullptr) : nullptr)
        p = target, free(target);
    const bool node =
        p.size() > 10 && p.starts_with("/dev/video") && p.find_first_not_of("0123456789", 10) == p.npos;
    return node ? p.substr(5) : "";
}

// What stands in for `path`: the folder for /dev, its files for the nodes and the links
// under /dev/v4l, and for a node's /sys/dev/char/81:N/uevent (which v4l2-ctl reads to tell
// a video node from another) and its USB device's serial a file beside the node;
// otherwise `path` itself.
std::string devFolder(const char* path) {
    const char* dir = getenv("FERNHOLD_EMULATED_DEV");
    const std::string p = path ? path : "";
    for (const std::string file : {"uevent", "device/../serial"})
        if (dir && p.starts_with("/sys/dev/char/81:") && p.ends_with("/" + file))
            return std::string(dir) + "/.video" + p.substr(17, p.size() - 18 - file.size()) + "." +
                   file.substr(file.rfind('/') + 1);
    const bool node = p.starts_with("/dev/video") && p.find_first_not_of("0123456789", 10) == p.npos;
    return dir && (p == "/dev" || p == "/dev/" || p.starts_with("/dev/v4l") || node) ? dir + p.substr(4) : p;
}

// Built on first use and never destroyed: a program may exit with nodes open and clocks
// running. No call looks at it before a node is open, so a sanitizer's runtime that maps
// and opens files through us as it starts (before our constructors) finds nothing here.
namespace {
std::map<int, std::shared_ptr<Handle>>& registry() {
    static auto* handles = new std::map<int, std::shared_ptr<Handle>>;
    return *handles;
}
std::mutex registryLock;         // constant-initialised
std::atomic<int> openHandles{0}; // likewise
} // namespace

// The handle behind `fd`, if it is an emulated node's; `take` also forgets it.
std::shared_ptr<Handle> find(int fd, bool take) {
    if (fd < 0 || openHandles == 0)
        return nullptr;
    std::lock_guard lock(registryLock);
    const auto it = registry().find(fd);
    auto handle = it == registry().end() ? nullptr : it->second;
    if (handle && take)
        registry().erase(it), --openHandles;
    return handle;
}

// Another descriptor of the same open file (GStreamer dups the node's): the same handle,
// closed when the last of its descriptors is.
int share(const std::shared_ptr<Handle>& handle, int fd) {
    if (handle && fd >= 0) {
        std::lock_guard lock(registryLock);
        registry()[fd] = handle;
        ++openHandles;
    }
    return fd;
}

// Whether `handle` has no descriptor left; otherwise it signals through one that is.
bool lastDescriptor(const std::shared_ptr<Handle>& handle) {
    std::lock_guard lock(registryLock);
    const auto other = std::find_if(registry().begin(), registry().end(),
                                    [&](auto& entry) { return entry.second == handle; });
    if (other == registry().end())
        return true;
    handle->signalThrough(other->first);
    return false;
}

// A node is there while its file is (an unplug removes it; the state stays for the tool).
int openNode(const std::string& name, int flags) {
    const std::string dir = getenv("FERNHOLD_EMULATED_DEV"); // set, or no path names a node
    NodeState* node = access((dir + "/" + name).c_str(), F_OK) == 0 ? mapNode(dir, name, false) : nullptr;
    const int fd = node && !node->denied ? eventfd(0, EFD_NONBLOCK | (flags & O_CLOEXEC)) : -1;
    if (fd < 0) {
        const int error = !node ? ENOENT : node->denied ? EACCES : errno;
        if (node)
            munmap(node, sizeof(NodeState));
        return errno = error, -1;
    }
    static std::atomic<uint32_t> opened{0};
    return share(std::make_shared<Handle>(fd, node, uint64_t(getpid()) << 32 | ++opened,
                                          uint32_t(std::stoul(name.substr(5)))),
                 fd);
}

int openPath(int dirfd, const char* path, int flags, mode_t mode) {
    if (const std::string name = nodeOf(path); !name.empty())
        return openNode(name, flags);
    return REAL(openat)(dirfd, path ? devFolder(path).c_str() : nullptr, flags, mode);
}

int pollEmulated(pollfd* fds, nfds_t n, int timeout, bool& emulated) {
    // On the stack, so that a program's poll loop allocates nothing in its heap here, as the
    // kernel's poll() would not. A set larger than any camera user's is not looked at.
    std::array<std::shared_ptr<Handle>, 64> handles;
    std::array<pollfd, 64> watched;
    for (nfds_t i = 0; i < n && n <= handles.size(); ++i)
        emulated |= bool(handles[i] = find(fds[i].fd));
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    std::copy(fds, fds + std::min<nfds_t>(n, watched.size()), watched.begin());
    for (int ready = 0; emulated; ready = 0) {
        for (nfds_t i = 0; i < n; ++i)
            if (handles[i]) {
                // Drained before looking, so a change after the look leaves the eventfd readable.
                eventfd_t count;
                eventfd_read(fds[i].fd, &count);
                ready += (fds[i].revents = handles[i]->revents(fds[i].events)) != 0;
                watched[i].events = POLLIN;
            }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int wait = ready || timeout == 0 ? 0 : timeout < 0 ? -1 : int(std::max<long>(0, left));
        const int woken = REAL(poll)(watched.data(), n, wait);
        if (woken < 0)
            return woken;
        for (nfds_t i = 0; i < n; ++i)
            if (!handles[i])
                ready += (fds[i].revents = watched[i].revents) != 0;
        if (ready || woken == 0)
            return ready;
    }
    return 0;
}

} // namespace webcam

using namespace webcam;

// libc's open() and openat() (the kernel's come through syscall()) end in the one place
// that knows the nodes.
#define OPEN(name, params, dirfd)                                                                            \
    int name params {                                                                                        \
        va_list ap;                                                                                          \
        va_start(ap, flags);                                                                                 \
        const mode_t mode = flags & (O_CREAT | O_TMPFILE) ? mode_t(va_arg(ap, unsigned)) : 0;                \
        va_end(ap);                                                                                          \
        return openPath(dirfd, path, flags, mode);                                                           \
    }

extern "C" {
OPEN(open, (const char* path, int flags, ...), AT_FDCWD)
OPEN(openat, (int dirfd, const char* path, int flags, ...), dirfd)
OPEN(open64, (const char* path, int flags, ...), AT_FDCWD)
OPEN(openat64, (int dirfd, const char* path, int flags, ...), dirfd)
// What a program built with _FORTIFY_SOURCE calls for open(path, flags).
int __open_2(const char* path, int flags) {
    return openPath(AT_FDCWD, path, flags, 0);
}
int __open64_2(const char* path, int flags) __attribute__((alias("__open_2")));

// v4l2-ctl reads a node's uevent through the C++ library's files, which open with fopen().
FILE* fopen(const char* path, const char* mode) {
    return REAL(fopen)(path ? devFolder(path).c_str() : path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
    return REAL(fopen64)(path ? devFolder(path).c_str() : path, mode);
}

int close(int fd) {
    if (auto handle = find(fd, true); handle && lastDescriptor(handle))
        handle->close();
    return REAL(close)(fd);
}

int dup(int fd) noexcept {
    return share(find(fd), REAL(dup)(fd));
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    auto handle = find(fd);
    const int error = handle ? handle->ioctl(request, arg) : 0;
    return !handle ? REAL(ioctl)(fd, request, arg) : error ? (errno = error, -1) : 0;
}

// An output node takes frames through write().
ssize_t write(int fd, const void* data, size_t size) {
    auto handle = find(fd);
    const long result = handle ? handle->write(data, size) : 0;
    return !handle ? REAL(write)(fd, data, size) : result < 0 ? (errno = int(-result), -1) : result;
}

int poll(pollfd* fds, nfds_t n, int timeout) {
    bool emulated = false;
    const int ready = pollEmulated(fds, n, timeout, emulated);
    return emulated ? ready : REAL(poll)(fds, n, timeout);
}

// libv4l2 and its plugins make their kernel calls through syscall(): openat, ioctl, mmap
// and close on a node (a uvcvideo node has no read(), and the program only streams).
long syscall(long number, ...) noexcept {
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (long& x : a)
        x = va_arg(ap, long);
    va_end(ap);
    const auto p = [&](int i) { return reinterpret_cast<char*>(a[i]); };
    std::shared_ptr<Handle> handle;
    switch (number) {
    case SYS_openat:
        return openPath(int(a[0]), p(1), int(a[2]), mode_t(a[3]));
    case SYS_close:
        return close(int(a[0]));
    case SYS_ioctl:
        return ioctl(int(a[0]), static_cast<unsigned long>(a[1]), p(2));
    case SYS_mmap:
        if ((handle = find(int(a[4]))))
            return reinterpret_cast<long>(handle->map(p(0), size_t(a[1]), int(a[2]), int(a[3]), off_t(a[5])));
    }
    return REAL(syscall)(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

// A path under /dev with its links followed, as the kernel's /dev would give it: for nodeOf()
// and std::filesystem::canonical(), with which --list-cameras matches udev's links to nodes.
char* realpath(const char* path, char* out) noexcept {
    if (!path || devFolder(path) == path)
        return REAL(realpath)(path, out);
    char *real = REAL(realpath)(devFolder(path).c_str(), nullptr),
         *root = REAL(realpath)(getenv("FERNHOLD_EMULATED_DEV"), nullptr);
    const std::string found =
        real && root && std::string(real).starts_with(root) ? "/dev" + std::string(real + strlen(root)) : "";
    free(real), free(root);
    if (found.empty())
        return errno = ENOENT, nullptr;
    return out ? std::strcpy(out, found.c_str()) : strdup(found.c_str());
}

int inotify_add_watch(int fd, const char* path, uint32_t mask) noexcept {
    return REAL(inotify_add_watch)(fd, devFolder(path).c_str(), mask);
}
} // extern "C"
