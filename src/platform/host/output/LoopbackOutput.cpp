#include "host/output/LoopbackOutput.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "foundation/Print.h"

namespace {

int retried(int fd, unsigned long request, void* arg) {
    int result;
    do
        result = ::ioctl(fd, request, arg);
    while (result < 0 && errno == EINTR);
    return result;
}

// The node's format for writers: what readers of it will get. v4l2loopback refuses it
// (EBUSY) while another program writes.
int setOutputFormat(int fd, int width, int height, int framesPerSecond) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    auto& pix = format.fmt.pix;
    pix.width = uint32_t(width), pix.height = uint32_t(height), pix.pixelformat = V4L2_PIX_FMT_YUYV;
    pix.field = V4L2_FIELD_NONE, pix.bytesperline = uint32_t(width) * 2;
    pix.sizeimage = uint32_t(width) * uint32_t(height) * 2, pix.colorspace = V4L2_COLORSPACE_SMPTE170M;
    if (retried(fd, VIDIOC_S_FMT, &format) < 0)
        return errno;
    if (pix.width != uint32_t(width) || pix.height != uint32_t(height) ||
        pix.pixelformat != V4L2_PIX_FMT_YUYV)
        return EINVAL;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    parm.parm.output.timeperframe = {1, uint32_t(framesPerSecond)};
    retried(fd, VIDIOC_S_PARM, &parm); // a node without a rate of its own still takes frames
    return 0;
}

} // namespace

std::shared_ptr<LoopbackOutput> LoopbackOutput::open(const std::string& path, int width, int height,
                                                     int framesPerSecond, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = "cannot open the output '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    v4l2_capability caps{};
    const bool answered = retried(fd, VIDIOC_QUERYCAP, &caps) == 0;
    const uint32_t device = caps.capabilities & V4L2_CAP_DEVICE_CAPS ? caps.device_caps : caps.capabilities;
    int error = 0;
    if (!answered || !(device & V4L2_CAP_VIDEO_OUTPUT))
        problem = "'" + path + "' is not a video output device (a v4l2loopback node is; see --list-cameras)";
    else if ((error = setOutputFormat(fd, width & ~1, height, framesPerSecond)) == EBUSY)
        problem = "the output '" + path + "' is busy: another program writes to it";
    else if (error)
        problem = "cannot set the output '" + path + "' to YUYV " + std::to_string(width & ~1) + "x" +
                  std::to_string(height) + ": " + std::strerror(error);
    if (!problem.empty()) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<LoopbackOutput>(new LoopbackOutput(path, fd, width & ~1, height));
}

LoopbackOutput::LoopbackOutput(std::string path, int fd, int width, int height)
    : path_(std::move(path)), fd_(fd), width_(width), height_(height), writer_([this] { run(); }) {}

LoopbackOutput::~LoopbackOutput() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    ::close(fd_);
}

FrameSink::Needs LoopbackOutput::needs() const {
    return {active(), {}, PixelLayout::yuyv};
}

void LoopbackOutput::framePixels(const FramePixels& pixels) {
    if (!pixels.yuyv || !active())
        return;
    {
        std::lock_guard lock(mutex_);
        if (pending_.size() >= backlogFrames_) {
            dropped_.fetch_add(1);
            return;
        }
        pending_.push_back(pixels);
    }
    wake_.notify_one();
}

void LoopbackOutput::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_)
            return;
        const FramePixels frame = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        write(frame);
        lock.lock();
    }
}

// One write() a frame, whole; a frame of another size than the node's (the picture size
// changed) is dropped, as readers could not take it.
void LoopbackOutput::write(const FramePixels& frame) {
    const size_t size = size_t(width_) * size_t(height_) * 2;
    if (frame.width != width_ || frame.height != height_ || frame.yuyv->size() < size) {
        dropped_.fetch_add(1);
        return;
    }
    ssize_t done;
    do
        done = ::write(fd_, frame.yuyv->data(), size);
    while (done < 0 && errno == EINTR);
    if (done == ssize_t(size)) {
        written_.fetch_add(1);
        return;
    }
    const int error = done < 0 ? errno : 0;
    if (done >= 0 || error == EAGAIN || error == ENOBUFS) {
        dropped_.fetch_add(1);
        return;
    }
    if (!gone_.exchange(true))
        foundation::logError("fernhold: the output " + path_ + " went away (" + std::strerror(error) +
                             "); going on without it");
}

void LoopbackOutput::setFrameInterval(CMTime interval) {
    if (interval.value <= 0 || interval.timescale <= 0 || interval.value > INT32_MAX)
        return;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    parm.parm.output.timeperframe = {uint32_t(interval.value), uint32_t(interval.timescale)};
    retried(fd_, VIDIOC_S_PARM, &parm);
}
