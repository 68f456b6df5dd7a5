// The V4L2 seam's real implementation: ioctls through libv4l2, frames through mmap'd
// buffers (or read() for cameras without streaming I/O), and an eventfd to wake the
// I/O thread's poll. MJPEG and YUYV are asked for as they are, so libv4l2 passes them
// through untouched; other formats come as RGB24 converted by libv4l2.
#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "capture/CaptureError.h"
#include "capture/PictureSize.h"
#include "capture/v4l2/V4L2CameraIdentity.h"
#include "capture/v4l2/V4L2Io.h"

namespace {

class LibV4L2Io : public V4L2Io {
  public:
    LibV4L2Io(int fd, int wakeFd, std::string card, std::string bus, bool canStream)
        : fd_(fd), wakeFd_(wakeFd), card_(std::move(card)), bus_(std::move(bus)), canStream_(canStream) {}
    ~LibV4L2Io() override {
        stopStreaming();
        ::close(wakeFd_);
        v4l2_close(fd_);
    }

    std::string cardName() const override { return card_; }
    std::string busInfo() const override { return bus_; }
    std::string serialNumber() const override { return usbSerialNumber(fd_); }

    std::optional<V4L2ControlInfo> queryControl(uint32_t id) override {
        v4l2_queryctrl q{};
        q.id = id;
        if (ioctl(VIDIOC_QUERYCTRL, &q) != 0 || (q.flags & V4L2_CTRL_FLAG_DISABLED))
            return std::nullopt;
        return V4L2ControlInfo{
            q.id,   q.type,          q.minimum, q.maximum,
            q.step, q.default_value, q.flags,   std::string(reinterpret_cast<const char*>(q.name))};
    }

    std::optional<V4L2ControlInfo> queryNextControl(uint32_t id) override {
        v4l2_query_ext_ctrl q{};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
        if (ioctl(VIDIOC_QUERY_EXT_CTRL, &q) != 0)
            return std::nullopt;
        return V4L2ControlInfo{q.id,
                               q.type,
                               int32_t(q.minimum),
                               int32_t(q.maximum),
                               int32_t(q.step),
                               int32_t(q.default_value),
                               q.flags,
                               std::string(q.name)};
    }

    std::vector<V4L2MenuEntry> queryMenu(const V4L2ControlInfo& control) override {
        std::vector<V4L2MenuEntry> entries;
        for (int64_t i = control.minimum; i <= control.maximum; ++i) {
            v4l2_querymenu m{};
            m.id = control.id;
            m.index = uint32_t(i);
            if (ioctl(VIDIOC_QUERYMENU, &m) != 0)
                continue; // gaps are allowed
            V4L2MenuEntry entry{m.index, {}, 0};
            if (control.type == V4L2_CTRL_TYPE_INTEGER_MENU)
                entry.value = m.value;
            else
                entry.name = reinterpret_cast<const char*>(m.name);
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    int getControl(uint32_t id, int32_t& value) override {
        v4l2_control c{id, 0};
        int error = ioctl(VIDIOC_G_CTRL, &c);
        if (error == 0)
            value = c.value;
        return error;
    }

    int setControl(uint32_t id, int32_t value) override {
        v4l2_control c{id, value};
        return ioctl(VIDIOC_S_CTRL, &c);
    }

    int subscribeControlEvents(uint32_t id) override {
        v4l2_event_subscription s{};
        s.type = V4L2_EVENT_CTRL;
        s.id = id;
        return ioctl(VIDIOC_SUBSCRIBE_EVENT, &s);
    }

    std::optional<V4L2ControlEvent> dequeueEvent() override {
        v4l2_event e{};
        if (ioctl(VIDIOC_DQEVENT, &e) != 0 || e.type != V4L2_EVENT_CTRL)
            return std::nullopt;
        return V4L2ControlEvent{e.id, e.u.ctrl.value, e.u.ctrl.changes, e.u.ctrl.flags};
    }

    std::vector<V4L2Mode> modes(PictureSize picture) override {
        std::vector<V4L2Mode> found;
        v4l2_fmtdesc description{};
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        for (description.index = 0; ioctl(VIDIOC_ENUM_FMT, &description) == 0; ++description.index) {
            if (description.flags & V4L2_FMT_FLAG_EMULATED)
                continue; // libv4l2's conversions, not the camera's own
            for (auto [width, height] : frameSizes(description.pixelformat, picture))
                found.push_back({description.pixelformat, width, height,
                                 frameIntervals(description.pixelformat, width, height)});
        }
        return found;
    }

    // Discrete intervals as listed; a range gives its two ends.
    std::vector<V4L2Interval> frameIntervals(uint32_t pixelFormat, uint32_t width, uint32_t height) override {
        std::vector<V4L2Interval> intervals;
        v4l2_frmivalenum interval{};
        interval.pixel_format = pixelFormat;
        interval.width = width;
        interval.height = height;
        for (interval.index = 0; ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0; ++interval.index) {
            if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
                intervals.push_back({interval.discrete.numerator, interval.discrete.denominator});
                continue;
            }
            intervals.push_back({interval.stepwise.min.numerator, interval.stepwise.min.denominator});
            intervals.push_back({interval.stepwise.max.numerator, interval.stepwise.max.denominator});
            break;
        }
        return intervals;
    }

    int setFormat(V4L2Format& format) override {
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        f.fmt.pix.width = format.width;
        f.fmt.pix.height = format.height;
        f.fmt.pix.pixelformat = format.pixelFormat;
        f.fmt.pix.field = V4L2_FIELD_ANY;
        if (int error = ioctl(VIDIOC_S_FMT, &f))
            return error;
        if (f.fmt.pix.pixelformat != format.pixelFormat || f.fmt.pix.width == 0 || f.fmt.pix.height == 0)
            return ENOTSUP;
        format.width = f.fmt.pix.width;
        format.height = f.fmt.pix.height;
        format.bytesPerLine = f.fmt.pix.bytesperline;
        format_ = format;
        frameBytes_ = f.fmt.pix.sizeimage;
        return 0;
    }

    bool canSetFrameInterval() override {
        v4l2_streamparm p{};
        p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return ioctl(VIDIOC_G_PARM, &p) == 0 && (p.parm.capture.capability & V4L2_CAP_TIMEPERFRAME);
    }

    int setFrameInterval(V4L2Interval& interval) override {
        v4l2_streamparm p{};
        p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        p.parm.capture.timeperframe = {interval.numerator, interval.denominator};
        if (int error = ioctl(VIDIOC_S_PARM, &p))
            return error;
        // Drivers write back the nearest duration they support.
        if (p.parm.capture.timeperframe.denominator)
            interval = {p.parm.capture.timeperframe.numerator, p.parm.capture.timeperframe.denominator};
        return 0;
    }

    int startStreaming() override {
        if (!canStream_ || !buffers_.empty())
            return 0;
        v4l2_requestbuffers request{};
        request.count = 4;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        if (int error = ioctl(VIDIOC_REQBUFS, &request))
            return error;
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer b = bufferAt(i);
            if (int error = ioctl(VIDIOC_QUERYBUF, &b))
                return abandon(error);
            void* start = v4l2_mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
            if (start == MAP_FAILED)
                return abandon(errno);
            buffers_.push_back({start, b.length});
            if (int error = ioctl(VIDIOC_QBUF, &b))
                return abandon(error);
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (int error = ioctl(VIDIOC_STREAMON, &type))
            return abandon(error);
        return 0;
    }

    int stopStreaming() override {
        held_.reset(); // STREAMOFF takes back every buffer
        if (buffers_.empty())
            return 0;
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        int error = ioctl(VIDIOC_STREAMOFF, &type);
        abandon(0);
        return error;
    }

    int waitForActivity(bool wantFrame, int timeoutMs, Activity& activity) override {
        pollfd fds[2] = {{fd_, short(POLLPRI | (wantFrame ? POLLIN : 0)), 0}, {wakeFd_, POLLIN, 0}};
        // Some drivers flag an idle (not streaming) node as in error; then only the wake-up
        // is watched while idle.
        const nfds_t count = !wantFrame && idleNodeInError_ ? 1 : 2;
        pollfd* watched = count == 1 ? &fds[1] : fds;
        if (::poll(watched, count, timeoutMs) < 0)
            return errno == EINTR ? 0 : errno;
        if (fds[1].revents & POLLIN) {
            uint64_t drained;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &drained, sizeof drained);
        }
        if (count == 1)
            return 0;
        const short r = fds[0].revents;
        if (r & (POLLHUP | POLLNVAL))
            return ENODEV;
        activity.event = (r & POLLPRI) != 0;
        activity.frame = wantFrame && (r & (POLLIN | POLLERR)) != 0; // readFrame() reports the error
        if (!wantFrame && (r & POLLERR) && !(r & POLLPRI))
            idleNodeInError_ = true;
        if (wantFrame)
            idleNodeInError_ = false;
        return 0;
    }

    void wake() override {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }

    int readFrame(V4L2Frame& frame) override {
        frame = {};
        if (!canStream_) {
            // One buffer for the stream's life, sized by the format.
            readBuffer_.resize(std::max<size_t>(frameBytes_, 1));
            ssize_t n = v4l2_read(fd_, readBuffer_.data(), readBuffer_.size());
            if (n < 0)
                return errno;
            frame = {readBuffer_.data(), size_t(n), std::nullopt};
            return n == 0 ? EAGAIN : 0;
        }
        if (buffers_.empty())
            return EAGAIN;
        v4l2_buffer b = bufferAt(0);
        if (int error = ioctl(VIDIOC_DQBUF, &b))
            return error;
        const bool whole = b.index < buffers_.size() && !(b.flags & V4L2_BUF_FLAG_ERROR) && b.bytesused > 0 &&
                           b.bytesused <= buffers_[b.index].length;
        if (!whole) { // a damaged frame is skipped, not fatal
            const int error = ioctl(VIDIOC_QBUF, &b);
            return error ? error : EAGAIN;
        }
        held_ = b;
        frame = {static_cast<const uint8_t*>(buffers_[b.index].start), b.bytesused, std::nullopt};
        if ((b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
            frame.captured = std::chrono::steady_clock::time_point(
                std::chrono::seconds(b.timestamp.tv_sec) + std::chrono::microseconds(b.timestamp.tv_usec));
        return 0;
    }

    int releaseFrame() override {
        if (!held_)
            return 0;
        v4l2_buffer b = *std::exchange(held_, std::nullopt);
        return ioctl(VIDIOC_QBUF, &b);
    }

  private:
    struct Mapped {
        void* start;
        size_t length;
    };

    int ioctl(unsigned long request, void* argument) {
        int result;
        do
            result = v4l2_ioctl(fd_, request, argument);
        while (result == -1 && errno == EINTR);
        return result == -1 ? errno : 0;
    }

    // Discrete sizes as listed; a stepwise or continuous range gives the smallest size on its
    // steps that covers the picture (the picture's own when it is on them: a camera stepping
    // by 96 from 320 has no 640, but 704) and its largest.
    std::vector<std::pair<uint32_t, uint32_t>> frameSizes(uint32_t pixelFormat, PictureSize picture) {
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        v4l2_frmsizeenum size{};
        size.pixel_format = pixelFormat;
        for (size.index = 0; ioctl(VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.emplace_back(size.discrete.width, size.discrete.height);
                continue;
            }
            const auto& r = size.stepwise;
            auto stepUp = [](int v, uint32_t low, uint32_t step) {
                step = std::max(step, 1u);
                return v <= int(low) ? low : low + (uint32_t(v) - low + step - 1) / step * step;
            };
            const uint32_t w = stepUp(picture.width, r.min_width, r.step_width),
                           h = stepUp(picture.height, r.min_height, r.step_height);
            if (w <= r.max_width && h <= r.max_height && (w < r.max_width || h < r.max_height))
                sizes.emplace_back(w, h);
            sizes.emplace_back(r.max_width, r.max_height);
            break;
        }
        return sizes;
    }

    static v4l2_buffer bufferAt(uint32_t index) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = index;
        return b;
    }

    // Unmaps and frees every buffer; returns `error` for the caller's convenience.
    int abandon(int error) {
        held_.reset();
        for (const Mapped& m : buffers_)
            v4l2_munmap(m.start, m.length);
        buffers_.clear();
        v4l2_requestbuffers none{};
        none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        none.memory = V4L2_MEMORY_MMAP;
        ioctl(VIDIOC_REQBUFS, &none);
        return error;
    }

    const int fd_;
    const int wakeFd_;
    const std::string card_;
    const std::string bus_;
    const bool canStream_;
    size_t frameBytes_ = 0;
    V4L2Format format_;
    std::vector<Mapped> buffers_;
    std::optional<v4l2_buffer> held_; // the frame readFrame() lent out, until released
    std::vector<uint8_t> readBuffer_; // read() cameras' frames
    bool idleNodeInError_ = false;    // I/O thread only
};

} // namespace

// libv4l2 writes its own "libv4l2: error …" lines to standard error unless given a log
// file; every error it meets reaches us as an errno, which we report in our own words, so
// one failure is one line. LIBV4L2_LOG_FILENAME still asks for its log.
static void quietenLibV4L2() {
    static const bool quiet = [] {
        if (!v4l2_log_file && !std::getenv("LIBV4L2_LOG_FILENAME"))
            v4l2_log_file = std::fopen("/dev/null", "we");
        return true;
    }();
    (void)quiet;
}

std::unique_ptr<V4L2Io> openV4L2Device(const std::string& path, NSError* error, int* errorNumber) {
    quietenLibV4L2();
    auto fail = [&](int number, const std::string& why) {
        if (errorNumber)
            *errorNumber = number;
        if (error)
            *error = makeCaptureError(CaptureErrorCode::deviceUnavailable, why);
        return nullptr;
    };
    int fd = v4l2_open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int number = errno;
        if (number == EACCES || number == EPERM)
            return fail(number,
                        "no permission to open camera '" + path + "' (is your user in the 'video' group?)");
        if (number == EBUSY)
            return fail(number, "camera '" + path + "' is busy: another program is using it");
        return fail(number, "cannot open camera '" + path + "': " + std::strerror(number));
    }
    v4l2_capability caps{};
    int result;
    do
        result = v4l2_ioctl(fd, VIDIOC_QUERYCAP, &caps);
    while (result == -1 && errno == EINTR);
    if (result == -1) {
        v4l2_close(fd);
        return fail(ENOTTY, "'" + path + "' is not a V4L2 device");
    }
    const uint32_t c = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    if (!(c & V4L2_CAP_VIDEO_CAPTURE) || !(c & (V4L2_CAP_STREAMING | V4L2_CAP_READWRITE))) {
        v4l2_close(fd);
        return fail(ENOTTY, "'" + path + "' is not a video capture device");
    }
    int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        int saved = errno;
        v4l2_close(fd);
        return fail(saved, "cannot set up camera '" + path + "': " + std::strerror(saved));
    }
    return std::make_unique<LibV4L2Io>(fd, wakeFd, std::string(reinterpret_cast<const char*>(caps.card)),
                                       std::string(reinterpret_cast<const char*>(caps.bus_info)),
                                       (c & V4L2_CAP_STREAMING) != 0);
}
