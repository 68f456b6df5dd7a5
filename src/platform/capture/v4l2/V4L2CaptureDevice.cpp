#include "capture/v4l2/V4L2CaptureDevice.h"

#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "capture/CaptureError.h"
#include "capture/OwnChange.h"
#include "capture/ThermalPressureMonitor.h"
#include "capture/imaging/CameraFrameDecoder.h"
#include "foundation/Print.h"

// The device's set-up, its controls and its streaming switch. The I/O thread's loop and
// frame delivery are in V4L2CaptureStreaming.cpp, losing and finding the camera again in
// V4L2CaptureReconnection.cpp.

namespace {
bool isMenu(const V4L2ControlInfo& c) {
    return c.type == V4L2_CTRL_TYPE_MENU || c.type == V4L2_CTRL_TYPE_INTEGER_MENU;
}

// The mode's frame durations as the active format's range.
// The format the application sees: the picture's size and the mode's frame rates.
AVCaptureDeviceFormat withFrameRates(AVCaptureDeviceFormat format, const V4L2ModeChoice& mode) {
    format.width = mode.picture.width;
    format.height = mode.picture.height;
    const std::vector<V4L2Interval>& intervals = mode.intervals;
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

} // namespace

std::shared_ptr<V4L2CaptureDevice> V4L2CaptureDevice::open(std::unique_ptr<V4L2Io> io,
                                                           const std::string& path, NSError* error,
                                                           Reopen reopen, PictureSize picture) {
    if (!io) // a camera that did not open: its error is already said
        return nullptr;
    V4L2ModeChoice mode;
    if (int failure = setChosenMode(*io, mode, picture)) {
        if (error)
            *error = makeCaptureError(
                CaptureErrorCode::deviceUnavailable,
                failure == EBUSY ? "camera '" + path + "' is busy: another program is using it"
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
    : AVCaptureDevice(withFrameRates(controls.format(), mode)), path_(path), controls_(std::move(controls)),
      reopen_(std::move(reopen)), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), io_(std::move(io)),
      mode_(std::move(mode)), decoder_(std::make_unique<CameraFrameDecoder>()), lineName_(path) {
    panel_ = std::make_shared<V4L2PanelControls>(*io_, controls_, identityOf(*io_).name());
    panel_->attach(io_);
    panel_->setWriteHandler([this](uint32_t id) { refreshLater({id}); });
    takeUp(*io_);
    readInitialValues(*io_);
    ioThread_ = std::thread([this] { ioLoop(); });
}

void V4L2CaptureDevice::takeUp(V4L2Io& camera) {
    identity_ = identityOf(camera);
    cameraSetsRate_ = camera.canSetFrameInterval();
    for (uint32_t id : controls_.observedControls())
        camera.subscribeControlEvents(id);
    panel_->subscribe(camera);
}

V4L2CaptureDevice::~V4L2CaptureDevice() {
    panel_->detach();
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

std::string V4L2CaptureDevice::statisticsNote() const {
    std::string note = frameRateControl();
    if (const unsigned long frames = framesWithWarnings_.load())
        note += (note.empty() ? "" : ", ") + std::string("JPEG warnings tolerated in ") +
                std::to_string(frames) + " frames";
    return note;
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
    // Values before modes: a mode report refreshes the sliders from the values, on
    // another thread, so they must be in place first.
    if (auto v = read(controls_.focusAbsolute))
        lensPositionProperty.set(controls_.lensPositionFrom(*v));
    auto exposure = read(controls_.exposureAbsolute);
    exposureDurationProperty.set(exposure ? controls_.durationFrom(*exposure)
                                          : activeFormat().minExposureDuration);
    isoProperty.set(controls_.isoFrom(read(controls_.gain).value_or(0)));
    if (auto v = read(controls_.exposureBias))
        exposureTargetBiasProperty.set(controls_.biasFrom(*v));
    if (auto v = read(controls_.zoomAbsolute))
        videoZoomFactorProperty.set(controls_.zoomFrom(*v));
    if (auto v = read(controls_.focusAuto))
        focusModeProperty.set(*v ? AVCaptureFocusMode::continuousAutoFocus : AVCaptureFocusMode::locked);
    else
        focusModeProperty.set(AVCaptureFocusMode::locked);
    if (auto v = read(controls_.exposureAuto))
        exposureModeProperty.set(
            controls_.exposureModeFrom(*v, AVCaptureExposureMode::continuousAutoExposure));
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
        handler_ = std::make_shared<const FrameHandler>(std::move(handler));
        streaming_ = true;
    }
    wakeIoThread();
    return true;
}

void V4L2CaptureDevice::stopStreaming() {
    std::shared_ptr<const FrameHandler> released;
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

void V4L2CaptureDevice::fail(int error, const std::string& what) {
    const NSError failure = makeCaptureError(CaptureErrorCode::deviceFailed,
                                             "camera '" + path_ + "' " + what + ": " + std::strerror(error));
    FailureHandler handler;
    std::shared_ptr<const FrameHandler> released; // dropped outside the lock
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
