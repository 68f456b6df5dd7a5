#include "capture/V4L2CaptureDevice.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cmath>
#include <cstring>

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

bool isMenu(const V4L2ControlInfo& c) {
    return c.type == V4L2_CTRL_TYPE_MENU || c.type == V4L2_CTRL_TYPE_INTEGER_MENU;
}
} // namespace

std::shared_ptr<V4L2CaptureDevice> V4L2CaptureDevice::open(std::unique_ptr<V4L2Io> io,
                                                           const std::string& path, NSError* error) {
    V4L2Format format;
    if (int failure = io->setFormat(format)) {
        if (error)
            *error = makeCaptureError(CaptureErrorCode::deviceUnavailable,
                                      "camera '" + path +
                                          "' offers no RGB picture we can use: " + std::strerror(failure));
        return nullptr;
    }
    V4L2ControlMap controls(*io);
    return std::make_shared<V4L2CaptureDevice>(std::move(io), std::move(controls), path, format);
}

V4L2CaptureDevice::V4L2CaptureDevice(std::unique_ptr<V4L2Io> io, V4L2ControlMap controls,
                                     const std::string& path, V4L2Format format)
    : AVCaptureDevice(controls.format()), io_(std::move(io)), path_(path), controls_(std::move(controls)),
      format_(format) {
    readInitialValues();
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
    io_->wake();
    ioThread_.join();
}

std::string V4L2CaptureDevice::localizedName() const {
    std::string card = io_->cardName();
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

bool V4L2CaptureDevice::hasFailed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

// ---- Controls ---------------------------------------------------------------------------

int32_t V4L2CaptureDevice::write(const V4L2ControlInfo& control, int32_t value) {
    if (!isMenu(control) && control.type != V4L2_CTRL_TYPE_BUTTON)
        value = std::clamp(value, control.minimum, control.maximum);
    if (int error = io_->setControl(control.id, value))
        foundation::logError("capture: " + path_ + ": cannot set " + control.name + " to " +
                             std::to_string(value) + ": " + std::strerror(error));
    if (control.type == V4L2_CTRL_TYPE_BUTTON)
        return value;
    int32_t actual = value;
    if (io_->getControl(control.id, actual) != 0)
        actual = value;
    return actual;
}

void V4L2CaptureDevice::readInitialValues() {
    auto read = [&](const std::optional<V4L2ControlInfo>& c) -> std::optional<int32_t> {
        int32_t value = 0;
        if (!c || io_->getControl(c->id, value) != 0)
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
        OwnChange change(*this);
        for (uint32_t id : ids) {
            int32_t value = 0;
            if (io_->getControl(id, value) == 0)
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
    io_->wake();
    return true;
}

void V4L2CaptureDevice::stopStreaming() {
    FrameHandler released;
    {
        std::lock_guard lock(mutex_);
        streaming_ = false;
        released.swap(handler_);
    }
    io_->wake();
}

bool V4L2CaptureDevice::isStreaming() const {
    std::lock_guard lock(mutex_);
    return streaming_;
}

void V4L2CaptureDevice::ioLoop() {
    bool streamOn = false;
    std::vector<uint8_t> rgb;
    Clock::time_point lastDelivery{};
    for (;;) {
        bool wanted;
        bool failed;
        {
            std::lock_guard lock(mutex_);
            if (quitting_)
                break;
            wanted = streaming_;
            failed = failed_;
        }
        if (failed) {
            // A failed camera is left alone until the device goes.
            if (streamOn)
                io_->stopStreaming();
            streamOn = false;
            std::unique_lock lock(mutex_);
            quitSignal_.wait(lock, [this] { return quitting_; });
            break;
        }
        if (wanted != streamOn) {
            int error = wanted ? io_->startStreaming() : io_->stopStreaming();
            if (wanted && error) {
                fail(error, "could not start streaming");
                continue;
            }
            streamOn = wanted;
        }
        V4L2Io::Activity activity;
        if (int error = io_->waitForActivity(streamOn, activity)) {
            fail(error, "stopped responding");
            continue;
        }
        if (activity.event)
            while (auto event = io_->dequeueEvent()) {
                if (!(event->changes & V4L2_EVENT_CTRL_CH_VALUE))
                    continue;
                deviceQueue_.async([this, e = *event] {
                    OwnChange change(*this);
                    publish(e.id, e.value);
                });
            }
        if (activity.frame && streamOn) {
            int error = io_->readFrame(rgb);
            if (error == EAGAIN)
                continue;
            if (error) {
                fail(error, "failed while streaming");
                continue;
            }
            deliver(rgb, lastDelivery);
        }
    }
    if (streamOn)
        io_->stopStreaming();
}

void V4L2CaptureDevice::deliver(const std::vector<uint8_t>& rgb, Clock::time_point& lastDelivery) {
    // At the format's full rate the camera sets the pace; a longer minimum frame duration
    // (a throttle) drops the frames that come too soon.
    const auto now = Clock::now();
    const CMTime minDuration = activeVideoMinFrameDuration();
    const bool throttled =
        minDuration.isValid() && !activeFormat().videoSupportedFrameRateRanges.empty() &&
        CMTimeCompare(minDuration, activeFormat().videoSupportedFrameRateRanges.front().minFrameDuration) > 0;
    if (throttled && lastDelivery != Clock::time_point{} &&
        std::chrono::duration<double>(now - lastDelivery).count() < paceSlack * CMTimeGetSeconds(minDuration))
        return;
    lastDelivery = now;
    const CMTime presentationTime = deviceClockTime();

    const double zoom = digitalZoom_.load();
    const int w = int(format_.width), h = int(format_.height);
    auto pixels = CVPixelBuffer::make(frameWidth, frameHeight, [&](uint8_t* out, size_t bytesPerRow) {
        if (w == frameWidth && h == frameHeight && zoom <= 1.0) {
            for (int y = 0; y < h; ++y) {
                const uint8_t* in = rgb.data() + size_t(y) * format_.bytesPerLine;
                uint8_t* row = out + size_t(y) * bytesPerRow;
                for (int x = 0; x < w; ++x) {
                    row[x * 4] = in[x * 3];
                    row[x * 4 + 1] = in[x * 3 + 1];
                    row[x * 4 + 2] = in[x * 3 + 2];
                    row[x * 4 + 3] = 255;
                }
            }
            return;
        }
        const double cw = w / std::max(zoom, 1.0), ch = h / std::max(zoom, 1.0);
        fitInto(rgb.data(), w, h, format_.bytesPerLine, 3, SourceRect{(w - cw) / 2, (h - ch) / 2, cw, ch},
                out, frameWidth, frameHeight, bytesPerRow);
    });

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
