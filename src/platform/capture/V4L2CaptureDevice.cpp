#include "capture/V4L2CaptureDevice.h"

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <cmath>
#include <cstring>

#include "capture/CameraFrameDecoder.h"
#include "capture/CaptureError.h"
#include "capture/FrameScaling.h"
#include "capture/OwnChange.h"
#include "capture/ThermalPressureMonitor.h"
#include "foundation/Print.h"

namespace {
constexpr int frameWidth = 640, frameHeight = 480;
// Frames closer together than this share of the minimum frame duration are dropped:
// a little slack, so a camera's jitter does not halve a matching rate.
constexpr double paceSlack = 0.9;
// A stream is stalled after this many frame durations without a frame (and at least the
// floor, so a camera that is slow to start is not called stalled).
constexpr double stallFrames = 8;
constexpr double stallFloorSeconds = 2;

bool isMenu(const V4L2ControlInfo& c) {
    return c.type == V4L2_CTRL_TYPE_MENU || c.type == V4L2_CTRL_TYPE_INTEGER_MENU;
}
} // namespace

namespace {
std::string durationText(CMTime t) {
    return std::to_string(t.value) + "/" + std::to_string(t.timescale) + " s";
}

// The mode's frame durations as the active format's range.
AVCaptureDeviceFormat withFrameRates(AVCaptureDeviceFormat format, const std::vector<V4L2Interval>& intervals) {
    if (intervals.empty())
        return format;
    const V4L2Interval &fastest = intervals.front(), &slowest = intervals.back();
    AVFrameRateRange range;
    range.minFrameDuration = CMTime{int64_t(fastest.numerator), int32_t(fastest.denominator)};
    range.maxFrameDuration = CMTime{int64_t(slowest.numerator), int32_t(slowest.denominator)};
    range.maxFrameRate = 1 / fastest.seconds();
    range.minFrameRate = 1 / slowest.seconds();
    format.videoSupportedFrameRateRanges = {range};
    return format;
}

int setMode(V4L2Io& io, V4L2ModeChoice& mode) {
    mode = chooseV4L2Mode(io.modes());
    return io.setFormat(mode.format);
}
} // namespace

std::shared_ptr<V4L2CaptureDevice> V4L2CaptureDevice::open(std::unique_ptr<V4L2Io> io,
                                                           const std::string& path, NSError* error,
                                                           Reopen reopen) {
    V4L2ModeChoice mode;
    if (int failure = setMode(*io, mode)) {
        if (error)
            *error = makeCaptureError(CaptureErrorCode::deviceUnavailable,
                                      failure == EBUSY
                                          ? "camera '" + path + "' is busy: another program is using it"
                                          : "camera '" + path + "' offers no picture format we can use (" +
                                                fourCharacterCode(mode.format.pixelFormat) + " " +
                                                std::to_string(mode.format.width) + "x" +
                                                std::to_string(mode.format.height) + "): " + std::strerror(failure));
        return nullptr;
    }
    V4L2ControlMap controls(*io);
    return std::make_shared<V4L2CaptureDevice>(std::move(io), std::move(controls), path, std::move(mode),
                                               std::move(reopen));
}

V4L2CaptureDevice::V4L2CaptureDevice(std::unique_ptr<V4L2Io> io, V4L2ControlMap controls,
                                     const std::string& path, V4L2ModeChoice mode, Reopen reopen)
    : AVCaptureDevice(withFrameRates(controls.format(), mode.intervals)), path_(path),
      controls_(std::move(controls)), reopen_(std::move(reopen)), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      io_(std::move(io)), mode_(std::move(mode)), decoder_(std::make_unique<CameraFrameDecoder>()) {
    cameraSetsRate_ = io_->canSetFrameInterval();
    readInitialValues(*io_);
    for (uint32_t id : controls_.observedControls())
        io_->subscribeControlEvents(id);
    ioThread_ = std::thread([this] { ioLoop(); });
}

V4L2CaptureDevice::~V4L2CaptureDevice() {
    pressureMonitor_.reset();
    if (std::this_thread::get_id() == ioThread_.get_id()) {
        foundation::logError("capture: a webcam device was destroyed from its own I/O thread");
        std::abort();
    }
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
        streaming_ = false;
    }
    quitSignal_.notify_all();
    wakeIoThread();
    ioThread_.join();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

std::shared_ptr<V4L2Io> V4L2CaptureDevice::io() const {
    std::lock_guard lock(ioMutex_);
    return io_;
}

void V4L2CaptureDevice::wakeIoThread() {
    if (auto camera = io())
        camera->wake();
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

std::string V4L2CaptureDevice::localizedName() const {
    auto camera = io();
    std::string card = camera ? camera->cardName() : "";
    return card.empty() ? path_ : card + " (" + path_ + ")";
}

bool V4L2CaptureDevice::isFocusModeSupported(AVCaptureFocusMode mode) const {
    return controls_.supports(mode);
}

bool V4L2CaptureDevice::isLockingFocusWithCustomLensPositionSupported() const {
    return controls_.supportsCustomLensPosition();
}

bool V4L2CaptureDevice::isExposureModeSupported(AVCaptureExposureMode mode) const {
    return controls_.supports(mode);
}

void V4L2CaptureDevice::adoptPressureMonitor(std::unique_ptr<ThermalPressureMonitor> monitor) {
    pressureMonitor_ = std::move(monitor);
}

void V4L2CaptureDevice::setFailureHandler(FailureHandler handler) {
    std::lock_guard lock(mutex_);
    failureHandler_ = std::move(handler);
}

void V4L2CaptureDevice::setAvailabilityHandler(AvailabilityHandler handler) {
    std::lock_guard lock(mutex_);
    availabilityHandler_ = std::move(handler);
}

std::string V4L2CaptureDevice::frameRateControl() const {
    std::lock_guard lock(mutex_);
    return frameRateControl_;
}

bool V4L2CaptureDevice::hasFailed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

// ---- Controls ---------------------------------------------------------------------------

int32_t V4L2CaptureDevice::write(const V4L2ControlInfo& control, int32_t value) {
    if (!isMenu(control) && control.type != V4L2_CTRL_TYPE_BUTTON)
        value = std::clamp(value, control.minimum, control.maximum);
    auto camera = io();
    if (!camera)
        return value; // away: read back from the camera when it is back
    if (int error = camera->setControl(control.id, value))
        foundation::logError("capture: " + path_ + ": cannot set " + control.name + " to " +
                             std::to_string(value) + ": " + std::strerror(error));
    if (control.type == V4L2_CTRL_TYPE_BUTTON)
        return value;
    int32_t actual = value;
    if (camera->getControl(control.id, actual) != 0)
        actual = value;
    return actual;
}

void V4L2CaptureDevice::readInitialValues(V4L2Io& io) {
    auto read = [&](const std::optional<V4L2ControlInfo>& c) -> std::optional<int32_t> {
        int32_t value = 0;
        if (!c || io.getControl(c->id, value) != 0)
            return std::nullopt;
        return value;
    };
    if (auto v = read(controls_.focusAuto))
        focusModeProperty.set(*v ? AVCaptureFocusMode::continuousAutoFocus : AVCaptureFocusMode::locked);
    else
        focusModeProperty.set(AVCaptureFocusMode::locked);
    if (auto v = read(controls_.focusAbsolute))
        lensPositionProperty.set(controls_.lensPositionFrom(*v));
    if (auto v = read(controls_.exposureAuto))
        exposureModeProperty.set(
            controls_.exposureModeFrom(*v, AVCaptureExposureMode::continuousAutoExposure));
    exposureDurationProperty.set(read(controls_.exposureAbsolute)
                                     ? controls_.durationFrom(*read(controls_.exposureAbsolute))
                                     : activeFormat().minExposureDuration);
    isoProperty.set(controls_.isoFrom(read(controls_.gain).value_or(0)));
    if (auto v = read(controls_.exposureBias))
        exposureTargetBiasProperty.set(controls_.biasFrom(*v));
    if (auto v = read(controls_.zoomAbsolute))
        videoZoomFactorProperty.set(controls_.zoomFrom(*v));
    if (auto v = read(controls_.whiteBalanceAuto))
        whiteBalanceModeProperty.set(*v ? AVCaptureWhiteBalanceMode::continuousAutoWhiteBalance
                                        : AVCaptureWhiteBalanceMode::locked);
}

void V4L2CaptureDevice::applyFocus(AVCaptureFocusMode mode, float lensPosition) {
    lensInEffect_ = lensPosition;
    const auto& c = controls_;
    switch (mode) {
    case AVCaptureFocusMode::continuousAutoFocus:
        if (c.focusAuto)
            write(*c.focusAuto, 1);
        break;
    case AVCaptureFocusMode::autoFocus:
        if (c.focusAuto)
            write(*c.focusAuto, 0);
        if (c.focusStart)
            write(*c.focusStart, 1);
        break;
    case AVCaptureFocusMode::locked:
        if (c.focusAuto)
            write(*c.focusAuto, 0);
        if (!c.focusAbsolute)
            break;
        if (std::fabs(lensPosition - this->lensPosition()) > 1e-6f)
            lensInEffect_ = c.lensPositionFrom(write(*c.focusAbsolute, c.focusValue(lensPosition)));
        else
            refreshLater({c.focusAbsolute->id}); // the lens stays where automatic focus left it
        break;
    }
}

void V4L2CaptureDevice::applyExposure(AVCaptureExposureMode mode, CMTime duration, float iso, float bias) {
    durationInEffect_ = duration;
    isoInEffect_ = iso;
    biasInEffect_ = bias;
    const auto& c = controls_;
    const AVCaptureExposureMode previous = exposureMode();
    if (auto value = c.exposureAutoValue(mode); value && mode != previous)
        write(*c.exposureAuto, *value);
    if (mode == AVCaptureExposureMode::custom) {
        if (c.exposureAbsolute)
            durationInEffect_ = c.durationFrom(write(*c.exposureAbsolute, c.exposureValue(duration)));
        if (c.gain)
            isoInEffect_ = c.isoFrom(write(*c.gain, c.gainValue(iso)));
    } else if (mode == AVCaptureExposureMode::locked &&
               c.exposureAutoValue(previous) != c.exposureAutoValue(mode)) {
        // Held where the automatic exposure left them, which the camera does not announce.
        std::vector<uint32_t> ids;
        if (c.exposureAbsolute)
            ids.push_back(c.exposureAbsolute->id);
        if (c.gain)
            ids.push_back(c.gain->id);
        refreshLater(std::move(ids));
    }
    if (c.exposureBias && bias != exposureTargetBias())
        biasInEffect_ = c.biasFrom(write(*c.exposureBias, c.biasValue(bias)));
}

void V4L2CaptureDevice::applyZoom(double factor) {
    if (controls_.hasOpticalZoom()) {
        zoomInEffect_ = controls_.zoomFrom(write(*controls_.zoomAbsolute, controls_.zoomValue(factor)));
    } else {
        zoomInEffect_ = factor;
        digitalZoom_ = factor;
    }
}

void V4L2CaptureDevice::refreshLater(std::vector<uint32_t> ids) {
    deviceQueue_.async([this, ids = std::move(ids)] {
        auto camera = io();
        if (!camera)
            return;
        OwnChange change(*this);
        for (uint32_t id : ids) {
            int32_t value = 0;
            if (camera->getControl(id, value) == 0)
                publish(id, value);
        }
    });
}

void V4L2CaptureDevice::publish(uint32_t id, int32_t value) {
    const auto& c = controls_;
    auto is = [id](const std::optional<V4L2ControlInfo>& control) { return control && control->id == id; };
    if (is(c.exposureAuto)) {
        auto mode = c.exposureModeFrom(value, exposureMode());
        if (mode != exposureMode())
            exposureModeProperty.set(mode);
    } else if (is(c.exposureAbsolute)) {
        CMTime duration = c.durationFrom(value);
        if (CMTimeCompare(duration, exposureDuration()) != 0)
            exposureDurationProperty.set(duration);
    } else if (is(c.gain)) {
        float iso = c.isoFrom(value);
        if (iso != ISO())
            isoProperty.set(iso);
    } else if (is(c.exposureBias)) {
        float bias = c.biasFrom(value);
        if (bias != exposureTargetBias())
            exposureTargetBiasProperty.set(bias);
    } else if (is(c.focusAuto)) {
        auto mode = value ? AVCaptureFocusMode::continuousAutoFocus
                          : (focusMode() == AVCaptureFocusMode::autoFocus ? AVCaptureFocusMode::autoFocus
                                                                          : AVCaptureFocusMode::locked);
        if (mode != focusMode())
            focusModeProperty.set(mode);
    } else if (is(c.focusAbsolute)) {
        float lens = c.lensPositionFrom(value);
        if (lens != lensPosition())
            lensPositionProperty.set(lens);
    } else if (is(c.zoomAbsolute)) {
        double zoom = c.zoomFrom(value);
        if (zoom != videoZoomFactor())
            videoZoomFactorProperty.set(zoom);
    } else if (is(c.whiteBalanceAuto)) {
        auto mode =
            value ? AVCaptureWhiteBalanceMode::continuousAutoWhiteBalance : AVCaptureWhiteBalanceMode::locked;
        if (mode != whiteBalanceMode())
            whiteBalanceModeProperty.set(mode);
    }
}

// ---- Streaming --------------------------------------------------------------------------

bool V4L2CaptureDevice::startStreaming(FrameHandler handler, NSError* error) {
    {
        std::lock_guard lock(mutex_);
        if (failed_) {
            if (error)
                *error = failure_;
            return false;
        }
        if (!handler) {
            if (error)
                *error = makeCaptureError(CaptureErrorCode::deviceUnavailable, "no frame handler was given");
            return false;
        }
        handler_ = std::move(handler);
        streaming_ = true;
    }
    wakeIoThread();
    return true;
}

void V4L2CaptureDevice::stopStreaming() {
    FrameHandler released;
    {
        std::lock_guard lock(mutex_);
        streaming_ = false;
        released.swap(handler_);
    }
    wakeIoThread();
}

bool V4L2CaptureDevice::isStreaming() const {
    std::lock_guard lock(mutex_);
    return streaming_;
}

void V4L2CaptureDevice::applyFrameDurations(CMTime min, CMTime) {
    {
        std::lock_guard lock(mutex_);
        wantedMinDuration_ = min;
        intervalPending_ = true;
    }
    wakeIoThread();
}

void V4L2CaptureDevice::applyFrameInterval(V4L2Io& camera) {
    CMTime wanted;
    {
        std::lock_guard lock(mutex_);
        wanted = wantedMinDuration_;
        intervalPending_ = false;
    }
    const auto& ranges = activeFormat().videoSupportedFrameRateRanges;
    const bool throttled = wanted.isValid() && !ranges.empty() &&
                           CMTimeCompare(wanted, ranges.front().minFrameDuration) > 0;
    std::string control;
    if (cameraSetsRate_ && wanted.isValid()) {
        V4L2Interval interval{uint32_t(wanted.value), uint32_t(wanted.timescale)};
        if (int error = camera.setFrameInterval(interval))
            foundation::logError("capture: " + path_ + ": cannot set the frame duration to " +
                                 durationText(wanted) + ": " + std::strerror(error));
        else if (throttled)
            control = "camera " + std::to_string(interval.numerator) + "/" + std::to_string(interval.denominator) + " s";
    } else if (throttled) {
        control = "software " + durationText(wanted);
    }
    std::lock_guard lock(mutex_);
    frameRateControl_ = control;
}

void V4L2CaptureDevice::ioLoop() {
    bool streamOn = false;
    std::vector<uint8_t> frame;
    Clock::time_point lastDelivery{}, lastFrame{};
    bool stalled = false;
    for (;;) {
        bool wanted, failed, intervalPending;
        {
            std::lock_guard lock(mutex_);
            if (quitting_)
                break;
            wanted = streaming_;
            failed = failed_;
            intervalPending = intervalPending_;
        }
        auto camera = io();
        if (failed || (!camera && !reopen_)) {
            // A failed camera is left alone until the device goes.
            if (streamOn && camera)
                camera->stopStreaming();
            streamOn = false;
            std::unique_lock lock(mutex_);
            quitSignal_.wait(lock, [this] { return quitting_; });
            break;
        }
        if (!camera) {
            streamOn = false;
            if (!(camera = reconnect()))
                break; // quitting
            continue;
        }
        if (intervalPending) {
            // Cameras take a new frame duration only while not streaming.
            if (streamOn && cameraSetsRate_) {
                camera->stopStreaming();
                streamOn = false;
            }
            applyFrameInterval(*camera);
        }
        if (wanted != streamOn) {
            int error = wanted ? camera->startStreaming() : camera->stopStreaming();
            if (wanted && error) {
                if (error == EBUSY || !reopen_)
                    fail(error, error == EBUSY ? "is busy: another program is using it" : "could not start streaming");
                else
                    lose(error, "could not start streaming");
                continue;
            }
            streamOn = wanted;
            lastFrame = Clock::now();
        }
        // While streaming, wait no longer than it takes to call the stream stalled.
        int timeoutMs = -1;
        if (streamOn && !stalled) {
            const double frameSeconds =
                std::max(mode_.intervals.empty() ? 1.0 / 30 : mode_.intervals.back().seconds(),
                         CMTimeGetSeconds(activeVideoMinFrameDuration()));
            const auto limit = std::chrono::duration<double>(std::max(stallFloorSeconds, stallFrames * frameSeconds));
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - (Clock::now() - lastFrame));
            if (left.count() <= 0) {
                stalled = true;
                setAvailable(false, "stopped sending pictures");
                continue;
            }
            timeoutMs = int(left.count()) + 1;
        }
        V4L2Io::Activity activity;
        if (int error = camera->waitForActivity(streamOn, timeoutMs, activity)) {
            lose(error, "stopped responding");
            streamOn = false;
            continue;
        }
        if (activity.event)
            while (auto event = camera->dequeueEvent()) {
                if (!(event->changes & V4L2_EVENT_CTRL_CH_VALUE))
                    continue;
                deviceQueue_.async([this, e = *event] {
                    OwnChange change(*this);
                    publish(e.id, e.value);
                });
            }
        if (activity.frame && streamOn) {
            int error = camera->readFrame(frame);
            if (error == EAGAIN)
                continue;
            if (error) {
                lose(error, "failed while streaming");
                streamOn = false;
                continue;
            }
            lastFrame = Clock::now();
            if (stalled) {
                stalled = false;
                setAvailable(true, "is sending pictures again");
            }
            deliver(frame, lastDelivery);
        }
    }
    if (auto camera = io(); camera && streamOn)
        camera->stopStreaming();
}

void V4L2CaptureDevice::lose(int error, const std::string& what) {
    if (!reopen_) {
        fail(error, what);
        return;
    }
    std::shared_ptr<V4L2Io> gone;
    {
        std::lock_guard lock(ioMutex_);
        gone.swap(io_);
    }
    gone.reset(); // closes the node, so the kernel can let the camera go
    // A node that is still there after an I/O error is opened again only once it has
    // been made anew (the camera was reset or replugged), not straight away into the same
    // error.
    retryAtOnce_ = error == ENODEV || error == ENOENT;
    setAvailable(false, what + ": " + std::strerror(error));
}

std::shared_ptr<V4L2Io> V4L2CaptureDevice::reconnect() {
    // Watch the node's folder before the first try, so a node that comes back between the
    // try and the wait still wakes us.
    const std::filesystem::path node(path_);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, node.parent_path().c_str(), IN_CREATE | IN_ATTRIB | IN_MOVED_TO) < 0) {
        foundation::logError("capture: cannot watch for camera '" + path_ + "' to come back: " + std::strerror(errno));
        if (watch >= 0)
            ::close(watch);
        std::unique_lock lock(mutex_);
        quitSignal_.wait(lock, [this] { return quitting_; });
        return nullptr;
    }
    std::shared_ptr<V4L2Io> camera;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (quitting_)
                break;
        }
        if (auto opened = retryAtOnce_ ? reopen_() : nullptr) {
            V4L2ModeChoice mode;
            if (setMode(*opened, mode) == 0) {
                mode_ = std::move(mode);
                camera = std::move(opened);
                break;
            }
        }
        pollfd fds[2] = {{watch, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        // Only news of our node is worth a try (udev touches many nodes).
        retryAtOnce_ = false;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len && node.filename() == event->name)
                    retryAtOnce_ = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        uint64_t drained;
        while (::read(wakeFd_, &drained, sizeof drained) > 0) {
        }
    }
    ::close(watch);
    if (!camera)
        return nullptr;
    cameraSetsRate_ = camera->canSetFrameInterval();
    for (uint32_t id : controls_.observedControls())
        camera->subscribeControlEvents(id);
    {
        std::lock_guard lock(ioMutex_);
        io_ = camera;
    }
    {
        std::lock_guard lock(mutex_);
        intervalPending_ = true; // the camera forgot it
    }
    // The camera may have come back with other settings: observers see what it has now.
    refreshLater(controls_.observedControls());
    setAvailable(true, "is back");
    return camera;
}

void V4L2CaptureDevice::setAvailable(bool available, const std::string& why) {
    AvailabilityHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (available_ == available)
            return;
        available_ = available;
        handler = availabilityHandler_;
    }
    foundation::logError("capture: camera '" + path_ + "' " + why);
    if (handler)
        handler(available);
}

void V4L2CaptureDevice::deliver(const std::vector<uint8_t>& frame, Clock::time_point& lastDelivery) {
    // At the format's full rate the camera sets the pace; a longer minimum frame duration
    // (a throttle) the camera cannot take drops the frames that come too soon.
    const auto now = Clock::now();
    const CMTime minDuration = activeVideoMinFrameDuration();
    const bool throttled =
        minDuration.isValid() && !activeFormat().videoSupportedFrameRateRanges.empty() &&
        CMTimeCompare(minDuration, activeFormat().videoSupportedFrameRateRanges.front().minFrameDuration) > 0;
    if (throttled && lastDelivery != Clock::time_point{} &&
        std::chrono::duration<double>(now - lastDelivery).count() < paceSlack * CMTimeGetSeconds(minDuration))
        return;
    const CMTime presentationTime = deviceClockTime();

    bool damaged = false;
    auto pixels = CVPixelBuffer::make(frameWidth, frameHeight, [&](uint8_t* out, size_t bytesPerRow) {
        convert(frame, out, bytesPerRow, damaged);
    });
    if (damaged)
        return;
    lastDelivery = now;

    FrameHandler handler;
    uint64_t number;
    {
        std::lock_guard lock(mutex_);
        if (!streaming_ || quitting_)
            return;
        handler = handler_;
        number = ++framesDelivered_;
    }
    handler(
        std::make_shared<const CMSampleBuffer>(CMSampleBuffer{std::move(pixels), presentationTime, number}));
}

void V4L2CaptureDevice::convert(const std::vector<uint8_t>& frame, uint8_t* out, size_t bytesPerRow, bool& damaged) {
    const V4L2Format& f = mode_.format;
    const int w = int(f.width), h = int(f.height);
    const double zoom = std::max(digitalZoom_.load(), 1.0);
    if (f.pixelFormat == V4L2_PIX_FMT_RGB24) {
        const size_t rowBytes = std::max<size_t>(f.bytesPerLine, size_t(w) * 3);
        if (frame.size() < rowBytes * size_t(h)) {
            damaged = true;
            return;
        }
        SourceRect crop = coverCrop(w, h, frameWidth, frameHeight);
        const double cw = crop.width / zoom, ch = crop.height / zoom;
        fitInto(frame.data(), w, h, rowBytes, 3,
                SourceRect{crop.x + (crop.width - cw) / 2, crop.y + (crop.height - ch) / 2, cw, ch}, out,
                frameWidth, frameHeight, bytesPerRow);
        return;
    }
    // Digital zoom crops the decoded frame.
    uint8_t* target = out;
    size_t targetBytesPerRow = bytesPerRow;
    if (zoom > 1.0) {
        zoomScratch_.resize(size_t(frameWidth) * frameHeight * 4);
        target = zoomScratch_.data();
        targetBytesPerRow = size_t(frameWidth) * 4;
    }
    if (f.pixelFormat == V4L2_PIX_FMT_YUYV) {
        const size_t rowBytes = std::max<size_t>(f.bytesPerLine, size_t(w) * 2);
        if (frame.size() < rowBytes * size_t(h)) {
            damaged = true;
            return;
        }
        decoder_->convertYuyvFrame(frame.data(), w, h, rowBytes, target, frameWidth, frameHeight, targetBytesPerRow);
    } else {
        std::string reason;
        if (!decoder_->decodeJpegFrame(frame.data(), frame.size(), target, frameWidth, frameHeight,
                                       targetBytesPerRow, &reason)) {
            damaged = true;
            if (!damagedFrameReported_)
                foundation::logError("capture: camera '" + path_ + "' sent a damaged picture (" + reason +
                                     "); such pictures are skipped");
            damagedFrameReported_ = true;
            return;
        }
    }
    if (zoom > 1.0) {
        const double cw = frameWidth / zoom, ch = frameHeight / zoom;
        fitInto(zoomScratch_.data(), frameWidth, frameHeight, size_t(frameWidth) * 4, 4,
                SourceRect{(frameWidth - cw) / 2, (frameHeight - ch) / 2, cw, ch}, out, frameWidth, frameHeight,
                bytesPerRow);
    }
}

void V4L2CaptureDevice::fail(int error, const std::string& what) {
    const NSError failure = makeCaptureError(CaptureErrorCode::deviceFailed,
                                             "camera '" + path_ + "' " + what + ": " + std::strerror(error));
    FailureHandler handler;
    FrameHandler released; // dropped outside the lock
    {
        std::lock_guard lock(mutex_);
        if (failed_)
            return;
        failed_ = true;
        failure_ = failure;
        streaming_ = false;
        released.swap(handler_);
        handler = failureHandler_;
    }
    foundation::logError("capture: " + failure.localizedDescription());
    if (handler)
        handler(failure);
}
