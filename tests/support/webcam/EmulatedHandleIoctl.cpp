// The V4L2 calls an emulated node answers, as uvcvideo answers them.
#include "EmulatedHandle.h"

namespace webcam {
namespace {

const char* menuEntry(uint32_t id, int64_t index) {
    if (id == V4L2_CID_POWER_LINE_FREQUENCY) {
        static constexpr const char* mains[] = {"Disabled", "50 Hz", "60 Hz"};
        return index >= 0 && index < int64_t(std::size(mains)) ? mains[index] : nullptr;
    }
    const bool exposure = id == V4L2_CID_EXPOSURE_AUTO;
    return exposure && index == V4L2_EXPOSURE_MANUAL              ? "Manual Mode"
           : exposure && index == V4L2_EXPOSURE_APERTURE_PRIORITY ? "Aperture Priority Mode"
                                                                  : nullptr;
}

template <typename Rows, typename Distance> auto& nearest(const Rows& rows, Distance distance) {
    return *std::min_element(std::begin(rows), std::end(rows),
                             [&](auto& a, auto& b) { return distance(a) < distance(b); });
}

// The nearest of low, low + step... high.
uint32_t onStep(uint32_t value, uint32_t low, uint32_t high, uint32_t step) {
    return low + (std::clamp(value, low, high) - low + step / 2) / step * step;
}

// One of a counted fault's failures used up, if any is left.
bool take(std::atomic<uint32_t>& left) {
    for (uint32_t n = left; n > 0;)
        if (left.compare_exchange_weak(n, n - 1))
            return true;
    return false;
}

} // namespace

int Handle::ioctl(unsigned long request, void* arg) {
    std::lock_guard lock(m_);
    refresh();
    if (dead_ || closing_ || (node_->metadata && request != VIDIOC_QUERYCAP))
        return closing_ ? EBADF : dead_ ? ENODEV : EINVAL; // closing: a call that raced close()
    if (!arg) // every V4L2 call takes a structure; a call that is none is not ours to judge
        return _IOC_TYPE(request) == 'V' && _IOC_SIZE(request) ? EFAULT : ENOTTY;
    if (bool handled = false; node_->loopback)
        if (const int result = loopbackIoctl(request, arg, handled); handled)
            return result;
    const bool set = request == VIDIOC_S_FMT || request == VIDIOC_S_PARM;
    switch (request) {
    case VIDIOC_QUERYCAP: // the driver's capabilities: both of its nodes'
        return capability(
            arg, "uvcvideo", "Fernhold Emulated Webcam", node_->bus[0] ? node_->bus : "usb-emulated-1",
            (node_->metadata ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_EXT_PIX_FORMAT) |
                V4L2_CAP_STREAMING,
            V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_EXT_PIX_FORMAT);
    case VIDIOC_ENUM_FMT: {
        auto& f = *static_cast<v4l2_fmtdesc*>(arg);
        if (f.type != capture || f.index >= 2 || !node_->formats[f.index])
            return EINVAL;
        return describe(f, node_->formats[f.index]);
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto& s = *static_cast<v4l2_frmsizeenum*>(arg);
        if (!offers(s.pixel_format) || s.index >= (node_->stepwise ? 1 : std::size(sizes)))
            return EINVAL;
        if (!node_->stepwise)
            return discrete(s, sizes[s.index][0], sizes[s.index][1]);
        s.type = V4L2_FRMSIZE_TYPE_STEPWISE, s.stepwise = steps;
        return s.reserved[0] = s.reserved[1] = 0, 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto& i = *static_cast<v4l2_frmivalenum*>(arg);
        const auto [w, h] = nearestSize(i.width, i.height);
        if (!offers(i.pixel_format) || w != i.width || h != i.height ||
            i.index >= node_->intervalList().size())
            return EINVAL;
        const auto& interval = node_->intervalList()[i.index];
        return discrete(i, interval[0], interval[1]);
    }
    case VIDIOC_G_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        auto& f = *static_cast<v4l2_format*>(arg);
        auto& pix = f.fmt.pix;
        if (f.type != capture)
            return EINVAL;
        if (set && (node_->busy || !buffers_.empty() || heldElsewhere() || take(node_->busyShort)))
            return EBUSY;
        auto [w, h] = nearestSize(pix.width, pix.height);
        uint32_t fourcc = offers(pix.pixelformat) ? pix.pixelformat : node_->formats[0];
        if (set) // and the interval goes back to the default one
            node_->fourcc = fourcc, node_->width = w, node_->height = h,
            node_->numerator = node_->intervalList()[node_->defaultInterval][0],
            node_->denominator = node_->intervalList()[node_->defaultInterval][1];
        if (request == VIDIOC_G_FMT)
            fourcc = node_->fourcc, w = node_->width, h = node_->height;
        return pixFormat(pix, fourcc, w, h);
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
            auto& best = nearest(node_->intervalList(), [&](auto& i) {
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
        if (node_->busy || streaming_ || heldElsewhere())
            return EBUSY;
        releaseBuffers(); // mappings the program still holds stay valid, as orphans do
        r.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP | V4L2_BUF_CAP_SUPPORTS_ORPHANED_BUFS;
        if ((r.count = std::min(r.count, 32u)) == 0)
            return 0;
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        bufferSize_ =
            (size_t(node_->width) * node_->height * bytesPerPixel(node_->fourcc) + page - 1) / page * page;
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
        if (b.type != capture || (request != VIDIOC_QUERYBUF && b.memory != V4L2_MEMORY_MMAP))
            return EINVAL; // QUERYBUF reads the memory field, it does not check it
        if (request == VIDIOC_DQBUF) {
            if (failed_ || !streaming_ || done_.empty())
                return failed_ ? failed_ : streaming_ ? EAGAIN : EINVAL;
            b.index = done_.front();
            done_.erase(done_.begin());
        }
        if (b.index >= buffers_.size() || (request == VIDIOC_QBUF && buffers_[b.index].flags))
            return EINVAL;
        Buffer& buffer = buffers_[b.index];
        if (request == VIDIOC_QBUF)
            buffer.flags = V4L2_BUF_FLAG_QUEUED, queued_.push_back(b.index);
        b.m.offset = uint32_t(b.index * bufferSize_), b.length = uint32_t(bufferSize_);
        b.bytesused = buffer.bytesused, b.sequence = buffer.sequence, b.timestamp = buffer.time;
        b.field = V4L2_FIELD_NONE, b.memory = V4L2_MEMORY_MMAP;
        b.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE |
                  (request == VIDIOC_DQBUF ? buffer.flags & V4L2_BUF_FLAG_ERROR
                                           : buffer.flags); // DONE only while waiting
        if (request == VIDIOC_DQBUF)
            buffer.flags = 0;
        return 0;
    }
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF: {
        if (*static_cast<int*>(arg) != int(capture))
            return EINVAL;
        if (request == VIDIOC_STREAMOFF)
            return stopStreaming(), 0;
        if (node_->busy || heldElsewhere())
            return EBUSY;
        if (buffers_.empty())
            return EINVAL;
        // Not enough USB bandwidth, as uvcvideo says when a second camera takes it.
        if (take(node_->bandwidthShort))
            return ENOSPC;
        uint32_t hiccup = 2; // a stall that a restart of the stream cures
        node_->stalled.compare_exchange_strong(hiccup, 0);
        return startStreaming(), 0;
    }
    case VIDIOC_G_PRIORITY: // the V4L2 core's, which every driver has
        return *static_cast<uint32_t*>(arg) = priority_, 0;
    case VIDIOC_S_PRIORITY:
        if (*static_cast<uint32_t*>(arg) > V4L2_PRIORITY_RECORD)
            return EINVAL;
        return priority_ = *static_cast<uint32_t*>(arg), 0;
    case VIDIOC_QUERY_EXT_CTRL: {
        auto& x = *static_cast<v4l2_query_ext_ctrl*>(arg);
        v4l2_queryctrl q{};
        q.id = x.id;
        if (int error = queryControl(q))
            return error;
        x = {};
        x.id = q.id, x.type = q.type, x.minimum = q.minimum, x.maximum = q.maximum, x.step = uint64_t(q.step),
        x.default_value = q.default_value, x.flags = q.flags, x.elem_size = 4, x.elems = 1;
        return COPY_NAME(x.name, reinterpret_cast<const char*>(q.name)), 0;
    }
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
        const int i = present(c.id);
        if (i < 0)
            return EINVAL;
        if (request == VIDIOC_G_CTRL)
            return c.value = node_->control[i].value, 0;
        return setControl(controls[i], node_->control[i], c.value);
    }
    case VIDIOC_ENUMINPUT: { // uvcvideo's one input, or a loopback's for its readers
        auto& in = *static_cast<v4l2_input*>(arg);
        if (in.index != 0 || !readable())
            return EINVAL;
        in = {0, {}, V4L2_INPUT_TYPE_CAMERA, 0, 0, 0, 0, 0, {}};
        return COPY_NAME(in.name, node_->loopback ? "loopback" : "Camera 1"), 0;
    }
    case VIDIOC_G_INPUT:
        return *static_cast<int*>(arg) = 0, 0;
    case VIDIOC_S_INPUT:
        return *static_cast<int*>(arg) == 0 ? 0 : EINVAL;
    case VIDIOC_G_EXT_CTRLS: { // how v4l2-ctl reads values; the others write with S_CTRL
        auto& list = *static_cast<v4l2_ext_controls*>(arg);
        if (list.count && !list.controls)
            return EFAULT;
        for (uint32_t n = 0; n < list.count; ++n) {
            const int i = present(list.controls[n].id);
            if (i < 0)
                return list.error_idx = n, EINVAL;
            list.controls[n].value = node_->control[i].value;
        }
        return 0;
    }
    case VIDIOC_SUBSCRIBE_EVENT: {
        auto& s = *static_cast<v4l2_event_subscription*>(arg);
        const int i = present(s.id);
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
        auto& e = *static_cast<v4l2_event*>(arg) = {};
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

// The size S_FMT grants for the one asked: the nearest on the steps, or of the sizes as
// uvcvideo measures it (the area the two do not share).
std::pair<uint32_t, uint32_t> Handle::nearestSize(uint32_t w, uint32_t h) const {
    if (node_->stepwise)
        return {onStep(w, steps.min_width, steps.max_width, steps.step_width),
                onStep(h, steps.min_height, steps.max_height, steps.step_height)};
    auto& size = nearest(sizes, [&](auto& s) {
        return uint64_t(w) * h + s[0] * s[1] - 2 * std::min<uint64_t>(w, s[0]) * std::min<uint64_t>(h, s[1]);
    });
    return {size[0], size[1]};
}

int Handle::queryControl(v4l2_queryctrl& q) {
    const uint32_t next = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
    if ((q.id & next) == V4L2_CTRL_FLAG_NEXT_COMPOUND)
        return EINVAL; // every control here is a plain one
    const ControlInfo* found = nullptr;
    for (const ControlInfo& c : controls)
        if (present(c.id) >= 0 &&
            ((q.id & next) ? c.id > (q.id & ~next) && (!found || c.id < found->id) : c.id == q.id))
            found = &c;
    if (!found)
        return EINVAL;
    q = {found->id,           found->type,     {}, found->minimum, found->maximum, found->step,
         found->defaultValue, flagsOf(*found), {}};
    return COPY_NAME(q.name, found->name), 0;
}

// As uvcvideo: clamped and rounded to the step, refused (EACCES) while the control is
// inactive, its master automatic. A change reaches every other handle's subscription.
int Handle::setControl(const ControlInfo& c, ControlState& s, int32_t& value) {
    if (c.type == V4L2_CTRL_TYPE_MENU && !menuEntry(c.id, value))
        return value < c.minimum || value > c.maximum ? ERANGE : EINVAL;
    if (flagsOf(c))
        return EACCES;
    value = c.minimum + (std::clamp(value, c.minimum, c.maximum) - c.minimum + c.step / 2) / c.step * c.step;
    if (s.value.exchange(value) != value)
        s.writer = token_, s.changes.fetch_add(1), node_->ring();
    return refresh(), 0;
}

} // namespace webcam
