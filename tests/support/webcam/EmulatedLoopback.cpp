// An emulated output node, answering as v4l2loopback 0.12 does: a writer sets the output
// format (YUYV here) and frame interval, then write()s whole frames; every capture client
// of the node, in any process, streams the newest frame written, one buffer for each
// write. The frames pass through DIR/.videoN.frames, a ring of four slots mapped shared,
// and the node's doorbell wakes the readers' clocks at each one.
#include "EmulatedHandle.h"

namespace webcam {
namespace {

constexpr uint32_t output = V4L2_BUF_TYPE_VIDEO_OUTPUT, slotCount = 4;

// Another live process writes to the node (one that crashed holds nothing).
bool writtenElsewhere(const NodeState& node) {
    const pid_t writer = pid_t(node.writer.load());
    return writer != getpid() && NodeState::alive(writer);
}

std::string framesPath(uint32_t number) {
    return std::string(getenv("FERNHOLD_EMULATED_DEV")) + "/.video" + std::to_string(number) + ".frames";
}

} // namespace

// The slots of the format set now; false when none is set.
bool Handle::mapSlots() {
    const size_t size = size_t(node_->width) * node_->height * 2;
    if (slots_ && slotSize_ == size)
        return true;
    if (slots_)
        munmap(slots_, slotSize_ * slotCount), slots_ = nullptr;
    // The writer sizes the ring; a reader maps it only once it is that long.
    const int fd = REAL(openat)(AT_FDCWD, framesPath(number_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    void* p = size ? mapShared(fd, size * slotCount, writes_) : nullptr;
    if (fd >= 0)
        REAL(close)(fd);
    if (!p)
        return false;
    slots_ = static_cast<uint8_t*>(p), slotSize_ = size;
    return true;
}

void Handle::releaseLoopback() {
    if (slots_)
        munmap(slots_, slotSize_ * slotCount), slots_ = nullptr;
    if (writes_ && !dead_) // and the node is an output again, until the next writer sets its format
        node_->writer = 0, node_->formatSet = 0, node_->ring();
    writes_ = false;
}

long Handle::write(const void* data, size_t size) {
    std::lock_guard lock(m_);
    refresh();
    if (dead_ || closing_)
        return dead_ ? -ENODEV : -EBADF;
    if (!node_->loopback)
        return -EINVAL; // uvcvideo has no write()
    if (!writes_ && writtenElsewhere(*node_))
        return -EBUSY;
    if (!node_->formatSet || !mapSlots())
        return -EINVAL;
    writes_ = true, node_->writer = uint32_t(getpid());
    const uint64_t next = node_->written;
    std::memcpy(slots_ + next % slotCount * slotSize_, data, std::min(size, slotSize_));
    node_->written = next + 1;
    node_->frames.fetch_add(1);
    node_->ring();
    return long(size);
}

// A reader's clock: each frame written fills the oldest queued buffer (m_ held).
void Handle::serveWritten() {
    const uint64_t written = node_->written;
    if (written == served_ || !mapSlots())
        return;
    served_ = written;
    if (queued_.empty())
        return; // the reader is behind: it misses this frame, as on the kernel
    std::memcpy(memory_ + queued_.front() * bufferSize_, slots_ + (written - 1) % slotCount * slotSize_,
                buffers_[queued_.front()].bytesused = uint32_t(std::min(slotSize_, bufferSize_)));
    complete(Clock::now(), sequence_++, 0);
}

int Handle::loopbackIoctl(unsigned long request, void* arg, bool& handled) {
    handled = true;
    const bool writable = !node_->exclusiveCaps || !node_->formatSet || writes_;
    auto typeOk = [&](uint32_t type) {
        return (type == capture && readable() && node_->formatSet) || (type == output && writable);
    };
    switch (request) {
    case VIDIOC_QUERYCAP:
        return capability(arg, "v4l2 loopback", "Fernhold",
                          "platform:v4l2loopback-00" + std::to_string(number_),
                          (readable() ? V4L2_CAP_VIDEO_CAPTURE : 0) | (writable ? V4L2_CAP_VIDEO_OUTPUT : 0) |
                              V4L2_CAP_STREAMING | V4L2_CAP_READWRITE | V4L2_CAP_EXT_PIX_FORMAT,
                          0);
    case VIDIOC_ENUM_FMT: {
        auto& f = *static_cast<v4l2_fmtdesc*>(arg);
        return !typeOk(f.type) || f.index != 0 ? EINVAL : describe(f, V4L2_PIX_FMT_YUYV);
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto& s = *static_cast<v4l2_frmsizeenum*>(arg);
        if (!node_->formatSet || s.index != 0 || s.pixel_format != V4L2_PIX_FMT_YUYV)
            return EINVAL;
        return discrete(s, node_->width, node_->height);
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto& i = *static_cast<v4l2_frmivalenum*>(arg);
        if (!node_->formatSet || i.index != 0 || i.pixel_format != V4L2_PIX_FMT_YUYV ||
            i.width != node_->width || i.height != node_->height)
            return EINVAL;
        return discrete(i, node_->numerator, node_->denominator);
    }
    case VIDIOC_G_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        auto& f = *static_cast<v4l2_format*>(arg);
        auto& pix = f.fmt.pix;
        if (!typeOk(f.type))
            return EINVAL;
        // Readers take the writer's format; a writer sets any size in YUYV.
        const bool set = request == VIDIOC_S_FMT && f.type == output;
        if (set && (node_->busy || writtenElsewhere(*node_)))
            return EBUSY;
        uint32_t w = std::clamp(pix.width, 2u, 8192u) & ~1u, h = std::clamp(pix.height, 1u, 8192u);
        if (f.type == capture || request == VIDIOC_G_FMT)
            w = node_->formatSet ? node_->width.load() : 640,
            h = node_->formatSet ? node_->height.load() : 480;
        if (set) {
            node_->fourcc = V4L2_PIX_FMT_YUYV, node_->width = w, node_->height = h;
            writes_ = true, node_->writer = uint32_t(getpid()), node_->formatSet = 1;
            if (!node_->numerator)
                node_->numerator = 1, node_->denominator = 30;
            if (!mapSlots())
                return ENOMEM;
            node_->ring();
        }
        return pixFormat(pix, V4L2_PIX_FMT_YUYV, w, h);
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto& p = *static_cast<v4l2_streamparm*>(arg);
        if (!typeOk(p.type))
            return EINVAL;
        const v4l2_fract want = p.type == output ? p.parm.output.timeperframe : p.parm.capture.timeperframe;
        if (request == VIDIOC_S_PARM && p.type == output && want.numerator && want.denominator)
            node_->numerator = want.numerator, node_->denominator = want.denominator;
        p.parm = {};
        p.parm.capture.capability = V4L2_CAP_TIMEPERFRAME; // capture and output keep it in the same place
        p.parm.capture.timeperframe = {node_->numerator ? node_->numerator.load() : 1,
                                       node_->numerator ? node_->denominator.load() : 30};
        return 0;
    }
    case VIDIOC_ENUMOUTPUT: {
        auto& out = *static_cast<v4l2_output*>(arg);
        if (out.index != 0 || !writable)
            return EINVAL;
        out = {0, {}, V4L2_OUTPUT_TYPE_ANALOG, 0, 0, 0, 0, {}};
        return COPY_NAME(out.name, "loopback in"), 0;
    }
    case VIDIOC_G_OUTPUT:
        return writable ? (*static_cast<int*>(arg) = 0, 0) : ENOTTY;
    case VIDIOC_S_OUTPUT:
        return !writable ? ENOTTY : *static_cast<int*>(arg) == 0 ? 0 : EINVAL;
    case VIDIOC_G_INPUT:
    case VIDIOC_S_INPUT:
        if (!readable())
            return ENOTTY;
        break;
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERY_EXT_CTRL:
    case VIDIOC_QUERYMENU:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_SUBSCRIBE_EVENT:
        return EINVAL; // none of a camera's controls
    }
    handled = false; // the readers' buffers and streaming are a capture node's
    return 0;
}

} // namespace webcam
