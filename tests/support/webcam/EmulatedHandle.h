#pragma once
// The emulated webcam's handle: one open() of an emulated node, with the camera's clock
// that fills its buffers. The V4L2 calls it answers are in EmulatedHandleIoctl.cpp, its
// streaming and clock in EmulatedHandle.cpp; EmulatedWebcam.cpp stands in for libc.
#include <dlfcn.h>
#include <linux/version.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NodeState.h"

// The next definition of a function we stand in for: libc's, or a sanitizer's.
// Looked up without a guarded static: a sanitizer's runtime calls some of these while it
// starts, before it could serve a guard's own calls.
#define REAL(fn)                                                                                             \
    ([] {                                                                                                    \
        static std::atomic<void*> f{nullptr};                                                                \
        void* p = f.load(std::memory_order_relaxed);                                                         \
        return reinterpret_cast<decltype(&::fn)>(p ? p : f = dlsym(RTLD_NEXT, #fn));                         \
    }())
#define COPY_NAME(to, from) snprintf(reinterpret_cast<char*>(to), sizeof(to), "%s", from)

namespace webcam {
using Clock = std::chrono::steady_clock;

constexpr uint32_t capture = V4L2_BUF_TYPE_VIDEO_CAPTURE;

struct Buffer {
    uint32_t flags = 0, bytesused = 0, sequence = 0; // flags: queued, done or neither (dequeued)
    timeval time{};
};

class Handle {
  public:
    Handle(int fd, NodeState* node, uint64_t token, uint32_t number)
        : fd_(fd), node_(node), token_(token), generation_(node->generation), number_(number),
          clock_([this] { run(); }) {}
    ~Handle() { munmap(node_, sizeof(NodeState)); } // when the last call on it has returned

    void close();
    void* map(void* addr, size_t length, int prot, int flags, off_t offset);
    short revents(short wanted);
    uint32_t number() const { return number_; } // N of /dev/videoN
    // The descriptor it signals through was closed; `fd`, a dup of it, is still open.
    void signalThrough(int fd) {
        std::lock_guard lock(m_);
        fd_ = fd;
    }
    // One V4L2 call, answered as uvcvideo would: 0 or the errno to fail with.
    int ioctl(unsigned long request, void* arg);
    // An output node's write(): the bytes written or -errno (EmulatedLoopback.cpp).
    long write(const void* data, size_t size);

  private:
    int queryControl(v4l2_queryctrl& q);
    std::pair<uint32_t, uint32_t> nearestSize(uint32_t w, uint32_t h) const;
    int setControl(const ControlInfo& c, ControlState& s, int32_t& value);
    void refresh();
    void queueEvent(uint32_t id, uint32_t changes);
    void signal();
    void startStreaming();
    void stopStreaming();
    void releaseBuffers();
    void produce();
    void complete(Clock::time_point stamp, uint32_t sequence, uint32_t flags);
    void run();
    // An output node's calls (v4l2loopback's); `handled` false for those answered as a
    // capture node's (buffers and streaming for its readers).
    int loopbackIoctl(unsigned long request, void* arg, bool& handled);
    bool mapSlots();
    void serveWritten();
    void releaseLoopback();

    bool offers(uint32_t f) const { return f && (node_->formats[0] == f || node_->formats[1] == f); }

    // The control's index, if this camera has it.
    int present(uint32_t id) const {
        const int i = controlIndex(id);
        return i >= 0 && !(node_->absent >> i & 1) ? i : -1;
    }

    // A loopback node with exclusive caps captures only once a writer has set the format.
    bool readable() const { return !node_->exclusiveCaps || node_->formatSet; }
    bool heldElsewhere() const { return !streaming_ && node_->held(); }

    // A control whose master is not at its manual setting is inactive.
    uint32_t flagsOf(const ControlInfo& c) const {
        const bool automatic = c.master && node_->control[controlIndex(c.master)].value != c.masterManual;
        return automatic ? V4L2_CTRL_FLAG_INACTIVE : 0;
    }

    int fd_; // an eventfd: readable when there is news
    NodeState* const node_;
    const uint64_t token_;               // pid << 32 | handle number: who wrote a control last
    const uint32_t generation_, number_; // the node's replugs when opened; N of /dev/videoN
    std::mutex m_;
    bool dead_ = false, closing_ = false, streaming_ = false;
    int failed_ = 0, memfd_ = -1;
    uint8_t* memory_ = nullptr;
    size_t bufferSize_ = 0;
    std::vector<Buffer> buffers_;
    // Vectors, not deques: a stream that runs on allocates nothing here, as a driver
    // allocates nothing in the program's heap.
    std::vector<uint32_t> queued_, done_;
    uint32_t fourcc_ = 0, width_ = 0, height_ = 0, sequence_ = 0, ringWidth_ = 0, ringHeight_ = 0,
             filled_ = 0;
    std::vector<std::vector<uint8_t>> mjpeg_;
    std::chrono::nanoseconds interval_{};
    Clock::time_point tick_;
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> subscriptions_; // id: the changes and flags seen
    std::deque<std::pair<uint32_t, uint32_t>> events_;
    uint32_t eventSequence_ = 0, priority_ = V4L2_PRIORITY_DEFAULT;
    uint8_t* slots_ = nullptr; // an output node's frames, mapped
    size_t slotSize_ = 0;
    uint64_t served_ = 0;
    bool writes_ = false; // this handle set the output format
    std::thread clock_;   // last: it starts on a complete handle
};

// The answers a camera node (EmulatedHandleIoctl.cpp) and a loopback node
// (EmulatedLoopback.cpp) give alike; each returns the call's result, 0.
inline int capability(void* arg, const char* driver, const char* card, const std::string& bus,
                      uint32_t deviceCaps, uint32_t moreCaps) {
    auto& c = *static_cast<v4l2_capability*>(arg) = {};
    COPY_NAME(c.driver, driver), COPY_NAME(c.card, card), COPY_NAME(c.bus_info, bus.c_str());
    c.version = LINUX_VERSION_CODE, c.device_caps = deviceCaps;
    c.capabilities = deviceCaps | moreCaps | V4L2_CAP_DEVICE_CAPS;
    return 0;
}
inline int describe(v4l2_fmtdesc& f, uint32_t fourcc) {
    const bool mjpeg = (f.pixelformat = fourcc) == V4L2_PIX_FMT_MJPEG;
    f.flags = mjpeg ? V4L2_FMT_FLAG_COMPRESSED : 0, f.mbus_code = 0;
    std::fill(std::begin(f.reserved), std::end(f.reserved), 0u);
    return COPY_NAME(f.description, mjpeg                         ? "Motion-JPEG"
                                    : fourcc == V4L2_PIX_FMT_YUYV ? "YUYV 4:2:2"
                                                                  : "24-bit RGB 8-8-8"),
           0;
}
// A discrete frame size or frame interval: the two enumerations lay them out alike.
template <typename Enumeration> int discrete(Enumeration& e, uint32_t first, uint32_t second) {
    static_assert(int(V4L2_FRMSIZE_TYPE_DISCRETE) == int(V4L2_FRMIVAL_TYPE_DISCRETE));
    e.type = V4L2_FRMSIZE_TYPE_DISCRETE, e.discrete = {first, second};
    return e.reserved[0] = e.reserved[1] = 0, 0;
}
inline uint32_t bytesPerPixel(uint32_t fourcc) {
    return fourcc == V4L2_PIX_FMT_RGB24 ? 3 : 2;
}
// A picture's layout; MJPEG's has no lines.
inline int pixFormat(v4l2_pix_format& pix, uint32_t fourcc, uint32_t w, uint32_t h) {
    const uint32_t line = fourcc == V4L2_PIX_FMT_MJPEG ? 0 : w * bytesPerPixel(fourcc);
    pix = {w,   h, fourcc, V4L2_FIELD_NONE, line, w * h * bytesPerPixel(fourcc), V4L2_COLORSPACE_SRGB, 0, 0,
           {0}, 0, 0};
    return 0;
}

// What EmulatedWebcam.cpp knows of the program's files, for the other stand-ins.
// The node ("video3") that /dev/video3 names, or a udev link to it; "" for any other path.
std::string nodeOf(const char* path);
// The handle behind `fd`, if it is an emulated node's; `take` also forgets it.
std::shared_ptr<Handle> find(int fd, bool take = false);
// poll() over emulated and real descriptors; `emulated` says whether any was emulated.
int pollEmulated(pollfd* fds, nfds_t n, int timeout, bool& emulated);

} // namespace webcam
