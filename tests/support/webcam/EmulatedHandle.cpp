// An emulated node's streaming: its buffers, the camera's clock and the pictures it sends.
#include "EmulatedHandle.h"
#include "support/PictureBytes.h"

namespace webcam {
namespace {

constexpr uint32_t mjpegRing = 24; // MJPEG frames are encoded once per mode, then repeat

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

// The YUYV picture as RGB24 in place, from its end, where it grows into free space.
void expandToRgb(uint8_t* picture, size_t pixels) {
    for (size_t pair = pixels / 2; pair-- > 0;) {
        const uint8_t* in = picture + pair * 4;
        const int u = in[1] - 128, v = in[3] - 128, tint[3] = {409 * v, -100 * u - 208 * v, 516 * u},
                  luma[2] = {298 * (in[0] - 16), 298 * (in[2] - 16)};
        for (int i = 0; i < 6; ++i) // BT.601, limited range
            picture[pair * 6 + size_t(i)] =
                uint8_t(std::clamp((luma[i / 3] + tint[i % 3] + 128) >> 8, 0, 255));
    }
}

// The frames a camera sends in this mode, as JPEG: without Huffman tables (DHT segments)
// when `bare`, as many UVC cameras send them; with a restart marker after each row of
// blocks, each after padding, when `padded`.
std::vector<std::vector<uint8_t>> encodeMjpeg(uint32_t w, uint32_t h, bool bare, bool padded) {
    std::vector<std::vector<uint8_t>> ring;
    std::vector<uint8_t> yuyv(size_t(w) * h * 2), ycbcr(size_t(w) * h * 3);
    for (uint32_t phase = 0; phase < mjpegRing; ++phase) {
        paint(yuyv.data(), w, h, phase);
        for (size_t i = 0; i < size_t(w) * h; ++i) // each pixel with its pair's chroma
            ycbcr[3 * i] = yuyv[2 * i], ycbcr[3 * i + 1] = yuyv[i / 2 * 4 + 1],
                      ycbcr[3 * i + 2] = yuyv[i / 2 * 4 + 3];
        const auto jpeg = pictures::encodeJpeg(
            int(w), int(h), ycbcr,
            {.input = JCS_YCbCr, .quality = 80, .huffmanTables = !bare, .restartInterval = padded ? 1u : 0u});
        ring.push_back(padded ? pictures::padRestartMarkers(jpeg) : jpeg);
    }
    return ring;
}

} // namespace

void Handle::close() {
    std::unique_lock lock(m_);
    closing_ = true, stopStreaming(), releaseBuffers(), releaseLoopback();
    lock.unlock();
    clock_.join();
}

void* Handle::map(void* addr, size_t length, int prot, int flags, off_t offset) {
    std::lock_guard lock(m_);
    const bool fits = !buffers_.empty() && offset % off_t(bufferSize_) == 0 &&
                      size_t(offset) / bufferSize_ < buffers_.size() && length <= bufferSize_;
    if (dead_ || !fits)
        return errno = dead_ ? ENODEV : EINVAL, MAP_FAILED;
    return ::mmap(addr, length, prot, flags, memfd_, offset);
}

short Handle::revents(short wanted) {
    std::lock_guard lock(m_);
    refresh();
    if (dead_)
        return POLLERR | POLLHUP;
    short r = events_.empty() ? 0 : POLLPRI;
    if (wanted & (POLLIN | POLLRDNORM)) // a queue that is not streaming has nothing to wait for
        r |= !streaming_ || failed_ ? POLLERR : done_.empty() ? 0 : POLLIN | POLLRDNORM;
    return r & (wanted | POLLERR | POLLHUP);
}

// Brings this handle up to date with the node (m_ held): an unplug, a failure, and the
// control changes that subscribers are owed events for. A value change reaches every
// handle but the writer's (V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK is not offered); a flags
// change reaches all.
void Handle::refresh() {
    if (!dead_ && (node_->unplugged || node_->generation != generation_))
        dead_ = true, signal();
    if (!failed_ && node_->failure)
        failed_ = int(node_->failure), signal();
    for (auto& [id, sub] : subscriptions_) {
        const int i = controlIndex(id);
        const ControlState& s = node_->control[i];
        const uint32_t seen = s.changes, flags = flagsOf(controls[i]);
        const uint32_t changes = (seen != sub.first && s.writer != token_ ? V4L2_EVENT_CTRL_CH_VALUE : 0) |
                                 (flags != sub.second ? V4L2_EVENT_CTRL_CH_FLAGS : 0);
        sub = {seen, flags};
        if (changes)
            queueEvent(id, changes);
    }
}

// Events for one control merge while pending, as the kernel's do.
void Handle::queueEvent(uint32_t id, uint32_t changes) {
    auto pending = std::find_if(events_.begin(), events_.end(), [&](auto& e) { return e.first == id; });
    if (pending == events_.end())
        events_.emplace_back(id, changes);
    else
        pending->second |= changes;
    signal();
}

void Handle::signal() {
    if (!closing_) // after close() the descriptor's number may be another file's
        eventfd_write(fd_, 1);
}

void Handle::startStreaming() {
    fourcc_ = node_->fourcc, width_ = node_->width, height_ = node_->height;
    if (fourcc_ == V4L2_PIX_FMT_MJPEG && (ringWidth_ != width_ || ringHeight_ != height_))
        mjpeg_ = encodeMjpeg(width_, height_, node_->bareJpeg, node_->paddedRestarts), ringWidth_ = width_,
        ringHeight_ = height_;
    interval_ = std::chrono::nanoseconds(1'000'000'000LL * node_->numerator /
                                         std::max(1u, node_->denominator.load()));
    tick_ = Clock::now() + interval_, sequence_ = 0, streaming_ = true;
    node_->streaming = uint32_t(getpid());
    node_->ring();
}

void Handle::stopStreaming() {
    if (streaming_ && !dead_)
        node_->streaming = 0;
    streaming_ = false;
    queued_.clear(), done_.clear();
    for (Buffer& b : buffers_)
        b.flags = 0;
    node_->ring(); // the clock stops now, not at its next tick
}

void Handle::releaseBuffers() {
    if (memory_)
        munmap(memory_, bufferSize_ * buffers_.size());
    if (memfd_ >= 0)
        REAL(close)(memfd_);
    memory_ = nullptr, memfd_ = -1;
    buffers_.clear(), queued_.clear(), done_.clear();
}

// One tick of the camera's clock: the next frame into the oldest queued buffer, unless
// the camera is stalled, broken or has no buffer to fill (then the frame is dropped).
void Handle::produce() {
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
        b.bytesused = width_ * height_ * bytesPerPixel(fourcc_);
        if (fourcc_ == V4L2_PIX_FMT_RGB24)
            expandToRgb(data, size_t(width_) * height_);
    }
    // Damage, one kind a frame, as USB's lost packets leave it: flagged, empty, cut short.
    const uint32_t damage = node_->damaged ? filled_++ % 4 : 0;
    b.bytesused = damage == 2 ? 0 : damage == 3 ? b.bytesused / 2 : b.bytesused;
    node_->frames.fetch_add(1);
    // Stamped as uvcvideo does (the flags say so): the monotonic time the exposure started,
    // a frame duration before the frame is done.
    complete(Clock::now() - interval_, phase, damage == 1 ? V4L2_BUF_FLAG_ERROR : 0);
}

// The oldest queued buffer is filled: stamped and handed to the program's next DQBUF.
void Handle::complete(Clock::time_point stamp, uint32_t sequence, uint32_t flags) {
    Buffer& b = buffers_[queued_.front()];
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(stamp.time_since_epoch());
    b.time = {us.count() / 1'000'000, us.count() % 1'000'000}, b.sequence = sequence,
    b.flags = V4L2_BUF_FLAG_DONE | flags;
    done_.push_back(queued_.front());
    queued_.erase(queued_.begin());
    signal();
}

void Handle::run() {
    std::unique_lock lock(m_);
    while (!closing_) {
        const uint32_t bell = node_->doorbell;
        refresh();
        const bool ticking = streaming_ && !dead_ && !node_->loopback; // a loopback's writer ticks
        if (streaming_ && !dead_ && node_->loopback)
            serveWritten();
        if (ticking && Clock::now() >= tick_) {
            produce();
            tick_ += interval_;
            if (tick_ < Clock::now()) // fell behind: the frames missed are dropped
                tick_ = Clock::now() + interval_;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(tick_ - Clock::now()).count();
        timespec due{wait / 1'000'000'000, wait % 1'000'000'000};
        lock.unlock();
        if (!ticking || wait > 0)
            REAL(syscall)
        (SYS_futex, &node_->doorbell, FUTEX_WAIT, bell, ticking ? &due : nullptr, nullptr, 0);
        lock.lock();
    }
}

} // namespace webcam
