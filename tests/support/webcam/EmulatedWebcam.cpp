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
// Only what the real libv4l2 (and its plugins) and fernhold call is stood in for: libv4l2
// makes its kernel calls through syscall(), the program lists /dev through openat() and
// watches it with inotify, and the control tool uses libc's open(), ioctl() and close().
// Nothing here stats a node: neither of them does.
#include <dlfcn.h>
#include <linux/version.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
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

namespace {
using namespace webcam;
using Clock = std::chrono::steady_clock;

constexpr uint32_t sizes[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
constexpr uint32_t intervals[][2] = {{1, 30}, {1, 15}, {1, 10}, {1, 5}};
constexpr uint32_t capture = V4L2_BUF_TYPE_VIDEO_CAPTURE;
constexpr uint32_t mjpegRing = 24; // MJPEG frames are encoded once per mode, then repeat

// The node ("video3") that /dev/video3 names; "" for any other path.
std::string nodeOf(const char* path) {
    const std::string p = path && getenv("FERNHOLD_EMULATED_DEV") ? path : "";
    const bool node =
        p.size() > 10 && p.starts_with("/dev/video") && p.find_first_not_of("0123456789", 10) == p.npos;
    return node ? p.substr(5) : "";
}

// The folder that stands in for /dev when `path` is /dev, else `path` itself.
std::string devFolder(const char* path) {
    const char* dir = getenv("FERNHOLD_EMULATED_DEV");
    const std::string p = path ? path : "";
    return dir && (p == "/dev" || p == "/dev/") ? dir : p;
}

const char* menuEntry(uint32_t id, int64_t index) {
    const bool exposure = id == V4L2_CID_EXPOSURE_AUTO;
    return exposure && index == V4L2_EXPOSURE_MANUAL              ? "Manual Mode"
           : exposure && index == V4L2_EXPOSURE_APERTURE_PRIORITY ? "Aperture Priority Mode"
                                                                  : nullptr;
}

template <typename Row, size_t N, typename Distance>
const Row& nearest(const Row (&rows)[N], Distance distance) {
    return *std::min_element(rows, rows + N, [&](auto& a, auto& b) { return distance(a) < distance(b); });
}

// The picture, as YUYV: a diagonal gradient, a bright square that travels across it and a
// bar along the bottom that grows with the frame count.
void paint(uint8_t* out, uint32_t w, uint32_t h, uint32_t phase) {
    const uint32_t side = h / 5, sx = phase * 16 % (w - side), sy = (h - side) / 2,
                   bar = (phase % 64 + 1) * w / 64;
    auto luma = [&](uint32_t x, uint32_t y) -> uint8_t {
        if (x - sx < side && y - sy < side)
            return 235;
        return y >= h - h / 20 ? (x < bar ? 200 : 16) : uint8_t(16 + (x + y) * 160 / (w + h));
    };
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; x += 2, out += 4)
            out[0] = luma(x, y), out[1] = uint8_t(96 + x * 64 / w), out[2] = luma(x + 1, y),
            out[3] = uint8_t(160 - y * 64 / h);
}

std::vector<std::vector<uint8_t>> encodeMjpeg(uint32_t w, uint32_t h) {
    std::vector<std::vector<uint8_t>> ring;
    std::vector<uint8_t> yuyv(size_t(w) * h * 2), planes(yuyv.size());
    uint8_t *y = planes.data(), *u = y + size_t(w) * h, *v = u + size_t(w) * h / 2;
    const unsigned char* p[3] = {y, u, v};
    tjhandle tj = tjInitCompress();
    for (uint32_t phase = 0; phase < mjpegRing; ++phase) {
        paint(yuyv.data(), w, h, phase);
        for (size_t i = 0; i < size_t(w) * h / 2; ++i)
            y[2 * i] = yuyv[4 * i], u[i] = yuyv[4 * i + 1], y[2 * i + 1] = yuyv[4 * i + 2],
                  v[i] = yuyv[4 * i + 3];
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        if (tjCompressFromYUVPlanes(tj, p, int(w), nullptr, int(h), TJSAMP_422, &jpeg, &size, 80, 0) == 0)
            ring.emplace_back(jpeg, jpeg + size);
        tjFree(jpeg);
    }
    tjDestroy(tj);
    return ring;
}

struct Buffer {
    uint32_t flags = 0, bytesused = 0, sequence = 0; // flags: queued, done or neither (dequeued)
    timeval time{};
};

class Handle {
  public:
    Handle(int fd, NodeState* node, uint64_t token)
        : fd_(fd), node_(node), token_(token), generation_(node->generation), clock_([this] { run(); }) {}
    ~Handle() { munmap(node_, sizeof(NodeState)); } // when the last call on it has returned

    void close() {
        std::unique_lock lock(m_);
        closing_ = true, stopStreaming(), releaseBuffers();
        lock.unlock();
        clock_.join();
    }

    void* map(void* addr, size_t length, int prot, int flags, off_t offset) {
        std::lock_guard lock(m_);
        const bool fits = !buffers_.empty() && offset % off_t(bufferSize_) == 0 &&
                          size_t(offset) / bufferSize_ < buffers_.size() && length <= bufferSize_;
        if (dead_ || !fits)
            return errno = dead_ ? ENODEV : EINVAL, MAP_FAILED;
        return ::mmap(addr, length, prot, flags, memfd_, offset);
    }

    short revents(short wanted) {
        std::lock_guard lock(m_);
        refresh();
        if (dead_)
            return POLLERR | POLLHUP;
        short r = events_.empty() ? 0 : POLLPRI;
        if (wanted & (POLLIN | POLLRDNORM)) // a queue that is not streaming has nothing to wait for
            r |= !streaming_ || failed_ ? POLLERR : done_.empty() ? 0 : POLLIN | POLLRDNORM;
        return r & (wanted | POLLERR | POLLHUP);
    }

    int ioctl(unsigned long request, void* arg) {
        std::lock_guard lock(m_);
        refresh();
        if (dead_ || closing_ || (node_->metadata && request != VIDIOC_QUERYCAP))
            return closing_ ? EBADF : dead_ ? ENODEV : EINVAL; // closing: a call that raced close()
        const bool set = request == VIDIOC_S_FMT || request == VIDIOC_S_PARM;
        switch (request) {
        case VIDIOC_QUERYCAP: {
            auto& c = zeroed<v4l2_capability>(arg);
            COPY_NAME(c.driver, "uvcvideo"), COPY_NAME(c.card, "Fernhold Emulated Webcam");
            COPY_NAME(c.bus_info, "usb-emulated-1"), c.version = LINUX_VERSION_CODE;
            c.device_caps =
                (node_->metadata ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE) | V4L2_CAP_STREAMING;
            c.capabilities =
                c.device_caps | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto& f = *static_cast<v4l2_fmtdesc*>(arg);
            if (f.type != capture || f.index >= 2 || !node_->formats[f.index])
                return EINVAL;
            const bool mjpeg = (f.pixelformat = node_->formats[f.index]) == V4L2_PIX_FMT_MJPEG;
            f.flags = mjpeg ? V4L2_FMT_FLAG_COMPRESSED : 0;
            return COPY_NAME(f.description, mjpeg ? "Motion-JPEG" : "YUYV 4:2:2"), 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto& s = *static_cast<v4l2_frmsizeenum*>(arg);
            if (!offers(s.pixel_format) || s.index >= std::size(sizes))
                return EINVAL;
            s.type = V4L2_FRMSIZE_TYPE_DISCRETE, s.discrete = {sizes[s.index][0], sizes[s.index][1]};
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto& i = *static_cast<v4l2_frmivalenum*>(arg);
            const bool size = std::any_of(std::begin(sizes), std::end(sizes),
                                          [&](auto& s) { return s[0] == i.width && s[1] == i.height; });
            if (!offers(i.pixel_format) || !size || i.index >= std::size(intervals))
                return EINVAL;
            i.type = V4L2_FRMIVAL_TYPE_DISCRETE, i.discrete = {intervals[i.index][0], intervals[i.index][1]};
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto& f = *static_cast<v4l2_format*>(arg);
            auto& pix = f.fmt.pix;
            if (f.type != capture)
                return EINVAL;
            if (set && (node_->busy || !buffers_.empty() || heldElsewhere()))
                return EBUSY;
            // The nearest size, as uvcvideo measures it: the area the two do not share.
            auto& size = nearest(sizes, [&](auto& s) {
                const uint64_t w = pix.width, h = pix.height;
                return w * h + s[0] * s[1] - 2 * std::min<uint64_t>(w, s[0]) * std::min<uint64_t>(h, s[1]);
            });
            uint32_t fourcc = offers(pix.pixelformat) ? pix.pixelformat : node_->formats[0], w = size[0],
                     h = size[1];
            if (set) // and the interval goes back to the default one
                node_->fourcc = fourcc, node_->width = w, node_->height = h,
                node_->numerator = intervals[0][0], node_->denominator = intervals[0][1];
            if (request == VIDIOC_G_FMT)
                fourcc = node_->fourcc, w = node_->width, h = node_->height;
            const uint32_t line = fourcc == V4L2_PIX_FMT_YUYV ? w * 2 : 0; // MJPEG: none
            pix = {w, h, fourcc, V4L2_FIELD_NONE, line, w * h * 2, V4L2_COLORSPACE_SRGB, 0, 0, {0}, 0, 0};
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto& p = *static_cast<v4l2_streamparm*>(arg);
            if (p.type != capture)
                return EINVAL;
            if (set && (node_->busy || streaming_ || heldElsewhere()))
                return EBUSY;
            if (set && node_->frameRateControl) {
                const v4l2_fract want = p.parm.capture.timeperframe;
                auto& best = nearest(intervals, [&](auto& i) {
                    return std::abs((want.denominator ? double(want.numerator) / want.denominator : 0) -
                                    double(i[0]) / i[1]);
                });
                node_->numerator = best[0], node_->denominator = best[1];
            }
            p.parm.capture = {};
            p.parm.capture.capability = node_->frameRateControl ? V4L2_CAP_TIMEPERFRAME : 0;
            p.parm.capture.timeperframe = {node_->numerator, node_->denominator};
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto& r = *static_cast<v4l2_requestbuffers*>(arg);
            if (r.type != capture || r.memory != V4L2_MEMORY_MMAP)
                return EINVAL;
            if (node_->busy || streaming_)
                return EBUSY;
            releaseBuffers(); // mappings the program still holds stay valid, as orphans do
            r.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP | V4L2_BUF_CAP_SUPPORTS_ORPHANED_BUFS;
            if ((r.count = std::min(r.count, 32u)) == 0)
                return 0;
            const size_t page = size_t(sysconf(_SC_PAGESIZE));
            bufferSize_ = (size_t(node_->width) * node_->height * 2 + page - 1) / page * page;
            memfd_ = memfd_create("emulated-webcam", MFD_CLOEXEC);
            memory_ = static_cast<uint8_t*>(
                ftruncate(memfd_, off_t(bufferSize_ * r.count)) // no memfd_: fails
                    ? MAP_FAILED
                    : ::mmap(nullptr, bufferSize_ * r.count, PROT_READ | PROT_WRITE, MAP_SHARED, memfd_, 0));
            if (memory_ == MAP_FAILED)
                return memory_ = nullptr, releaseBuffers(), ENOMEM;
            buffers_.assign(r.count, {});
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF: {
            auto& b = *static_cast<v4l2_buffer*>(arg);
            if (b.type != capture || b.memory != V4L2_MEMORY_MMAP)
                return EINVAL;
            if (request == VIDIOC_DQBUF) {
                if (failed_ || !streaming_ || done_.empty())
                    return failed_ ? failed_ : streaming_ ? EAGAIN : EINVAL;
                b.index = done_.front();
                done_.pop_front();
            }
            if (b.index >= buffers_.size() || (request == VIDIOC_QBUF && buffers_[b.index].flags))
                return EINVAL;
            Buffer& buffer = buffers_[b.index];
            if (request == VIDIOC_QBUF)
                buffer.flags = V4L2_BUF_FLAG_QUEUED, queued_.push_back(b.index);
            b.m.offset = uint32_t(b.index * bufferSize_), b.length = uint32_t(bufferSize_);
            b.bytesused = buffer.bytesused, b.sequence = buffer.sequence, b.timestamp = buffer.time;
            b.field = V4L2_FIELD_NONE;
            b.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE | buffer.flags;
            if (request == VIDIOC_DQBUF)
                buffer.flags = 0;
            return 0;
        }
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            if (*static_cast<int*>(arg) != int(capture))
                return EINVAL;
            if (request == VIDIOC_STREAMOFF)
                return stopStreaming(), 0;
            if (node_->busy || heldElsewhere())
                return EBUSY;
            return buffers_.empty() ? EINVAL : (startStreaming(), 0);
        case VIDIOC_QUERYCTRL:
            return queryControl(*static_cast<v4l2_queryctrl*>(arg));
        case VIDIOC_QUERYMENU: {
            auto& m = *static_cast<v4l2_querymenu*>(arg);
            const char* entry = menuEntry(m.id, m.index);
            return entry ? COPY_NAME(m.name, entry), m.reserved = 0, 0 : EINVAL;
        }
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL: {
            auto& c = *static_cast<v4l2_control*>(arg);
            const int i = controlIndex(c.id);
            if (i < 0)
                return EINVAL;
            if (request == VIDIOC_G_CTRL)
                return c.value = node_->control[i].value, 0;
            return setControl(controls[i], node_->control[i], c.value);
        }
        case VIDIOC_SUBSCRIBE_EVENT: {
            auto& s = *static_cast<v4l2_event_subscription*>(arg);
            const int i = controlIndex(s.id);
            if (s.type != V4L2_EVENT_CTRL || i < 0)
                return EINVAL;
            return subscriptions_[s.id] = {node_->control[i].changes, flagsOf(controls[i])}, 0;
        }
        case VIDIOC_DQEVENT: {
            if (events_.empty())
                return ENOENT;
            const auto [id, changes] = events_.front();
            events_.pop_front();
            const ControlInfo& c = controls[controlIndex(id)];
            auto& e = zeroed<v4l2_event>(arg);
            e.type = V4L2_EVENT_CTRL, e.id = id, e.pending = uint32_t(events_.size()),
            e.sequence = eventSequence_++;
            e.u.ctrl.changes = changes, e.u.ctrl.type = c.type,
            e.u.ctrl.value = node_->control[controlIndex(id)].value;
            e.u.ctrl.flags = flagsOf(c); // the range fields: nobody reads them
            return clock_gettime(CLOCK_MONOTONIC, &e.timestamp), 0;
        }
        }
        return ENOTTY;
    }

  private:
    template <typename T> static T& zeroed(void* arg) { return *static_cast<T*>(arg) = T{}; }
    bool offers(uint32_t f) const { return f && (node_->formats[0] == f || node_->formats[1] == f); }

    bool heldElsewhere() const { return !streaming_ && node_->held(); }

    // A control whose master is not at its manual setting is inactive.
    uint32_t flagsOf(const ControlInfo& c) const {
        const bool automatic = c.master && node_->control[controlIndex(c.master)].value != c.masterManual;
        return automatic ? V4L2_CTRL_FLAG_INACTIVE : 0;
    }

    int queryControl(v4l2_queryctrl& q) {
        const uint32_t next = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
        const ControlInfo* found = nullptr;
        for (const ControlInfo& c : controls)
            if ((q.id & next) ? c.id > (q.id & ~next) && (!found || c.id < found->id) : c.id == q.id)
                found = &c;
        if (!found)
            return EINVAL;
        q = {found->id,           found->type,     {}, found->minimum, found->maximum, found->step,
             found->defaultValue, flagsOf(*found), {}};
        return COPY_NAME(q.name, found->name), 0;
    }

    // As uvcvideo: clamped and rounded to the step, refused (EACCES) while the control is
    // inactive, its master automatic. A change reaches every other handle's subscription.
    int setControl(const ControlInfo& c, ControlState& s, int32_t& value) {
        if (c.type == V4L2_CTRL_TYPE_MENU && !menuEntry(c.id, value))
            return value < c.minimum || value > c.maximum ? ERANGE : EINVAL;
        if (flagsOf(c))
            return EACCES;
        value =
            c.minimum + (std::clamp(value, c.minimum, c.maximum) - c.minimum + c.step / 2) / c.step * c.step;
        if (s.value.exchange(value) != value)
            s.writer = token_, s.changes.fetch_add(1), node_->ring();
        return refresh(), 0;
    }

    // Brings this handle up to date with the node (m_ held): an unplug, a failure, and the
    // control changes that subscribers are owed events for. A value change reaches every
    // handle but the writer's (V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK is not offered); a flags
    // change reaches all.
    void refresh() {
        if (!dead_ && (node_->unplugged || node_->generation != generation_))
            dead_ = true, signal();
        if (!failed_ && node_->failure)
            failed_ = int(node_->failure), signal();
        for (auto& [id, sub] : subscriptions_) {
            const int i = controlIndex(id);
            const ControlState& s = node_->control[i];
            const uint32_t seen = s.changes, flags = flagsOf(controls[i]);
            const uint32_t changes =
                (seen != sub.first && s.writer != token_ ? V4L2_EVENT_CTRL_CH_VALUE : 0) |
                (flags != sub.second ? V4L2_EVENT_CTRL_CH_FLAGS : 0);
            sub = {seen, flags};
            if (changes)
                queueEvent(id, changes);
        }
    }

    // Events for one control merge while pending, as the kernel's do.
    void queueEvent(uint32_t id, uint32_t changes) {
        auto pending = std::find_if(events_.begin(), events_.end(), [&](auto& e) { return e.first == id; });
        if (pending == events_.end())
            events_.emplace_back(id, changes);
        else
            pending->second |= changes;
        signal();
    }

    void signal() {
        if (!closing_) // after close() the descriptor's number may be another file's
            eventfd_write(fd_, 1);
    }

    void startStreaming() {
        fourcc_ = node_->fourcc, width_ = node_->width, height_ = node_->height;
        if (fourcc_ == V4L2_PIX_FMT_MJPEG && (ringWidth_ != width_ || ringHeight_ != height_))
            mjpeg_ = encodeMjpeg(width_, height_), ringWidth_ = width_, ringHeight_ = height_;
        interval_ = std::chrono::nanoseconds(1'000'000'000LL * node_->numerator /
                                             std::max(1u, node_->denominator.load()));
        tick_ = Clock::now() + interval_, sequence_ = 0, streaming_ = true;
        node_->streaming = uint32_t(getpid());
        node_->ring();
    }

    void stopStreaming() {
        if (streaming_ && !dead_)
            node_->streaming = 0;
        streaming_ = false;
        queued_.clear(), done_.clear();
        for (Buffer& b : buffers_)
            b.flags = 0;
        node_->ring(); // the clock stops now, not at its next tick
    }

    void releaseBuffers() {
        if (memory_)
            munmap(memory_, bufferSize_ * buffers_.size());
        if (memfd_ >= 0)
            REAL(close)(memfd_);
        memory_ = nullptr, memfd_ = -1;
        buffers_.clear(), queued_.clear(), done_.clear();
    }

    // One tick of the camera's clock: the next frame into the oldest queued buffer, unless
    // the camera is stalled, broken or has no buffer to fill (then the frame is dropped).
    void produce() {
        if (node_->stalled || failed_)
            return;
        const uint32_t phase = sequence_++;
        if (queued_.empty())
            return;
        Buffer& b = buffers_[queued_.front()];
        uint8_t* data = memory_ + queued_.front() * bufferSize_;
        if (fourcc_ == V4L2_PIX_FMT_MJPEG && !mjpeg_.empty()) {
            const auto& jpeg = mjpeg_[phase % mjpeg_.size()];
            memcpy(data, jpeg.data(), b.bytesused = uint32_t(std::min(jpeg.size(), bufferSize_)));
        } else {
            paint(data, width_, height_, phase);
            b.bytesused = width_ * height_ * 2;
        }
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
        b.time = {us.count() / 1'000'000, us.count() % 1'000'000}, b.sequence = phase,
        b.flags = V4L2_BUF_FLAG_DONE;
        done_.push_back(queued_.front());
        queued_.pop_front();
        node_->frames.fetch_add(1);
        signal();
    }

    void run() {
        std::unique_lock lock(m_);
        while (!closing_) {
            const uint32_t bell = node_->doorbell;
            refresh();
            const bool ticking = streaming_ && !dead_;
            if (ticking && Clock::now() >= tick_) {
                produce();
                tick_ += interval_;
                if (tick_ < Clock::now()) // fell behind: the frames missed are dropped
                    tick_ = Clock::now() + interval_;
            }
            const auto wait =
                std::chrono::duration_cast<std::chrono::nanoseconds>(tick_ - Clock::now()).count();
            timespec due{wait / 1'000'000'000, wait % 1'000'000'000};
            lock.unlock();
            if (!ticking || wait > 0)
                REAL(syscall)
            (SYS_futex, &node_->doorbell, FUTEX_WAIT, bell, ticking ? &due : nullptr, nullptr, 0);
            lock.lock();
        }
    }

    const int fd_;
    NodeState* const node_;
    const uint64_t token_; // pid << 32 | handle number: who wrote a control last
    const uint32_t generation_;
    std::mutex m_;
    bool dead_ = false, closing_ = false, streaming_ = false;
    int failed_ = 0, memfd_ = -1;
    uint8_t* memory_ = nullptr;
    size_t bufferSize_ = 0;
    std::vector<Buffer> buffers_;
    std::deque<uint32_t> queued_, done_;
    uint32_t fourcc_ = 0, width_ = 0, height_ = 0, sequence_ = 0, ringWidth_ = 0, ringHeight_ = 0;
    std::vector<std::vector<uint8_t>> mjpeg_;
    std::chrono::nanoseconds interval_{};
    Clock::time_point tick_;
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> subscriptions_; // id: the changes and flags seen
    std::deque<std::pair<uint32_t, uint32_t>> events_;
    uint32_t eventSequence_ = 0;
    std::thread clock_; // last: it starts on a complete handle
};

// Built on first use and never destroyed: a program may exit with nodes open and clocks
// running. No call looks at it before a node is open, so a sanitizer's runtime that maps
// and opens files through us as it starts (before our constructors) finds nothing here.
std::map<int, std::shared_ptr<Handle>>& registry() {
    static auto* handles = new std::map<int, std::shared_ptr<Handle>>;
    return *handles;
}
std::mutex registryLock;         // constant-initialised
std::atomic<int> openHandles{0}; // likewise

// The handle behind `fd`, if it is an emulated node's; `take` also forgets it.
std::shared_ptr<Handle> find(int fd, bool take = false) {
    if (fd < 0 || openHandles == 0)
        return nullptr;
    std::lock_guard lock(registryLock);
    const auto it = registry().find(fd);
    auto handle = it == registry().end() ? nullptr : it->second;
    if (handle && take)
        registry().erase(it), --openHandles;
    return handle;
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
    auto handle = std::make_shared<Handle>(fd, node, uint64_t(getpid()) << 32 | ++opened);
    std::lock_guard lock(registryLock);
    registry()[fd] = handle;
    ++openHandles;
    return fd;
}

int openPath(int dirfd, const char* path, int flags, mode_t mode) {
    if (const std::string name = nodeOf(path); !name.empty())
        return openNode(name, flags);
    return REAL(openat)(dirfd, path ? devFolder(path).c_str() : nullptr, flags, mode);
}

int pollEmulated(pollfd* fds, nfds_t n, int timeout, bool& emulated) {
    std::vector<std::shared_ptr<Handle>> handles(n);
    for (nfds_t i = 0; i < n; ++i)
        emulated |= bool(handles[i] = find(fds[i].fd));
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    std::vector<pollfd> watched(fds, fds + n);
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

} // namespace

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

int close(int fd) {
    if (auto handle = find(fd, true))
        handle->close();
    return REAL(close)(fd);
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

int inotify_add_watch(int fd, const char* path, uint32_t mask) noexcept {
    return REAL(inotify_add_watch)(fd, devFolder(path).c_str(), mask);
}
} // extern "C"
