#include "capture/virtual/SimulatedCaptureDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "capture/OwnChange.h"
#include "capture/ThermalPressureMonitor.h"
#include "capture/virtual/SensorModel.h"
#include "capture/virtual/SensorTint.h"
#include "capture/virtual/VirtualCameraControls.h"
#include "media/FrameObjects.h"

namespace {
constexpr auto controlStepInterval = std::chrono::milliseconds(125);

[[noreturn]] void abortWith(const char* message) {
    std::fprintf(stderr, "capture: %s\n", message);
    std::fflush(stderr);
    std::abort();
}
} // namespace

namespace {
AVCaptureDeviceFormat formatOfSize(PictureSize size) {
    AVCaptureDeviceFormat format;
    format.width = size.width;
    format.height = size.height;
    return format;
}
} // namespace

SimulatedCaptureDevice::SimulatedCaptureDevice(std::string name, std::unique_ptr<FrameSource> source,
                                               PictureSize size)
    : AVCaptureDevice(formatOfSize(size)), name_(std::move(name)), source_(std::move(source)) {
    frameThread_ = std::thread([this] { frameLoop(); });
}

SimulatedCaptureDevice::~SimulatedCaptureDevice() {
    shutDown(); // normally done already by the concrete device
    if (sensorControls_)
        sensorControls_->detach(); // the panel may hold them longer than the device lives
    // deviceQueue_ goes next (declared last): by now it has only timers that do nothing.
}

void SimulatedCaptureDevice::shutDown() {
    if (shuttingDown_.exchange(true))
        return;
    pressureMonitor_.reset();
    if (std::this_thread::get_id() == frameThread_.get_id())
        abortWith("a capture device was destroyed from its own frame thread");
    {
        std::lock_guard lock(frameMutex_);
        quitting_ = true;
        streaming_ = false;
    }
    frameWake_.notify_all();
    frameThread_.join();
    // Completion handlers still queued run now; later control steps see shuttingDown_.
    deviceQueue_.sync([] {});
}

bool SimulatedCaptureDevice::isFocusModeSupported(AVCaptureFocusMode mode) const {
    return mode != AVCaptureFocusMode::locked || !lacksLockedFocus_;
}

bool SimulatedCaptureDevice::isLockingFocusWithCustomLensPositionSupported() const {
    return !lacksCustomLensPosition_;
}

bool SimulatedCaptureDevice::isExposureModeSupported(AVCaptureExposureMode mode) const {
    switch (mode) {
    case AVCaptureExposureMode::locked:
        return !lacksLockedExposure_;
    case AVCaptureExposureMode::custom:
        return !lacksCustomExposure_;
    default:
        return true;
    }
}

void SimulatedCaptureDevice::runOnDeviceThread(std::function<void()> work) {
    deviceQueue_.async(std::move(work));
}

void SimulatedCaptureDevice::adoptPressureMonitor(std::unique_ptr<ThermalPressureMonitor> monitor) {
    pressureMonitor_ = std::move(monitor);
}

void SimulatedCaptureDevice::applyFocus(AVCaptureFocusMode mode, float) {
    if (mode == AVCaptureFocusMode::autoFocus)
        autoFocusSettled_ = false;
}

void SimulatedCaptureDevice::applyExposure(AVCaptureExposureMode mode, CMTime, float, float) {
    // A one-shot exposure measures again whenever it is asked for, a new bias included.
    if (mode == AVCaptureExposureMode::autoExpose)
        autoExposeSettled_ = false;
}

void SimulatedCaptureDevice::applyFrameDurations(CMTime, CMTime) {
    // The frame thread may be waiting out the old duration; it recomputes when woken.
    { std::lock_guard lock(frameMutex_); }
    frameWake_.notify_all();
}

void SimulatedCaptureDevice::setUnlimitedFrameRate(bool unlimited) {
    {
        std::lock_guard lock(frameMutex_);
        unlimitedFrameRate_ = unlimited;
    }
    frameWake_.notify_all();
}

// ---- Streaming --------------------------------------------------------------------------

bool SimulatedCaptureDevice::startStreaming(FrameHandler handler, NSError* error) {
    if (!handler) {
        if (error)
            *error = NSError("AVFoundationErrorDomain", -11800, "no frame handler was given");
        return false;
    }
    {
        std::lock_guard lock(frameMutex_);
        handler_ = std::make_shared<const FrameHandler>(std::move(handler));
        streaming_ = true;
        ++streamGeneration_;
    }
    frameWake_.notify_all();
    deviceQueue_.async([this] {
        if (controlLoopRunning_)
            return;
        controlLoopRunning_ = true;
        controlStep();
    });
    return true;
}

void SimulatedCaptureDevice::stopStreaming() {
    std::shared_ptr<const FrameHandler> released;
    {
        std::lock_guard lock(frameMutex_);
        streaming_ = false;
        ++streamGeneration_;
        released.swap(handler_);
    }
    frameWake_.notify_all();
    // `released` goes here, outside the lock; a delivery in progress holds its own copy.
}

bool SimulatedCaptureDevice::isStreaming() const {
    std::lock_guard lock(frameMutex_);
    return streaming_;
}

SimulatedCaptureDevice::Clock::duration SimulatedCaptureDevice::frameInterval() const {
    const AVFrameRateRange range = activeFormat().videoSupportedFrameRateRanges.empty()
                                       ? AVFrameRateRange{}
                                       : activeFormat().videoSupportedFrameRateRanges.front();
    CMTime duration = activeVideoMinFrameDuration();
    if (!duration.isValid() || CMTimeCompare(duration, range.minFrameDuration) < 0)
        duration = range.minFrameDuration;
    if (CMTimeCompare(duration, range.maxFrameDuration) > 0)
        duration = range.maxFrameDuration;
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(CMTimeGetSeconds(duration)));
}

SensorSettings SimulatedCaptureDevice::currentSettings() const {
    SensorSettings settings;
    settings.exposureSeconds = CMTimeGetSeconds(exposureDuration());
    settings.iso = ISO();
    settings.lensPosition = lensPosition();
    settings.zoomFactor = videoZoomFactor();
    settings.seconds = std::chrono::duration<double>(Clock::now() - createdAt_).count();
    return settings;
}

void SimulatedCaptureDevice::frameLoop() {
    uint64_t rendered = 0;
    std::unique_lock lock(frameMutex_);
    for (;;) {
        frameWake_.wait(lock, [this] { return quitting_ || streaming_; });
        if (quitting_)
            return;
        auto now = Clock::now();
        if (!unlimitedFrameRate_) {
            auto interval = frameInterval();
            auto due = lastFrameStart_ + interval;
            if (now < due) {
                // Woken early by a stop, a new duration or the destructor: start over.
                frameWake_.wait_until(lock, due);
                continue;
            }
            // Keep the cadence when only slightly late; after a long stall start afresh.
            lastFrameStart_ = now - due < interval ? due : now;
        } else {
            lastFrameStart_ = now;
        }
        const uint64_t generation = streamGeneration_;
        std::shared_ptr<const FrameHandler> handler = handler_;
        lock.unlock();

        SensorSettings settings = currentSettings();
        settings.sequence = ++rendered;
        const CMTime presentationTime = deviceClockTime();
        CVPixelBufferRef pixels = source_->render(settings);
        if (sensorControls_)
            developFrame(pixels, settings);

        lock.lock();
        if (quitting_ || !streaming_ || generation != streamGeneration_)
            continue; // stopped meanwhile
        const uint64_t number = ++framesDelivered_;
        lock.unlock();
        (*handler)(
            makeFrameObject<CMSampleBuffer>(CMSampleBuffer{std::move(pixels), presentationTime, number}));
        handler.reset();
        lock.lock();
    }
}

std::shared_ptr<CameraControls> SimulatedCaptureDevice::cameraControls() const {
    return sensorControls_;
}

void SimulatedCaptureDevice::offerSensorControls() {
    sensorControls_ = std::make_shared<VirtualCameraControls>(whiteBalanceModeProperty);
}

void SimulatedCaptureDevice::developFrame(CVPixelBufferRef& pixels, const SensorSettings& settings) const {
    const sensor::Development development = sensorControls_->development();
    if (development.neutral() || !pixels)
        return;
    const CVPixelBuffer& source = *pixels;
    pixels = CVPixelBuffer::make(source.width(), source.height(), [&](uint8_t* rgba, size_t bytesPerRow) {
        const auto& bytes = *source.storage();
        for (int y = 0; y < source.height(); ++y)
            std::copy_n(bytes.data() + size_t(y) * source.bytesPerRow(), size_t(source.width()) * 4,
                        rgba + size_t(y) * bytesPerRow);
        sensor::develop(development, settings.seconds, settings.exposureSeconds, rgba, bytesPerRow,
                        source.width(), source.height());
    });
}

// ---- Automatic exposure and focus ------------------------------------------------------

void SimulatedCaptureDevice::controlStep() {
    if (shuttingDown_ || !isStreaming()) {
        controlLoopRunning_ = false;
        return;
    }
    {
        OwnChange change(*this);
        stepExposure();
        stepFocus();
    }
    deviceQueue_.asyncAfter(controlStepInterval, [this] { controlStep(); });
}

void SimulatedCaptureDevice::stepExposure() {
    const AVCaptureExposureMode mode = exposureMode();
    const bool adjusting = mode == AVCaptureExposureMode::continuousAutoExposure ||
                           (mode == AVCaptureExposureMode::autoExpose && !autoExposeSettled_);
    if (!adjusting)
        return;
    const SensorSettings settings = currentSettings();
    const double exposure = settings.exposureSeconds * settings.iso;
    auto next = sensor::nextExposure(exposure, source_->meteredBrightness(settings),
                                     sensor::targetBrightness(exposureTargetBias()), activeFormat());
    if (!next) {
        if (mode == AVCaptureExposureMode::autoExpose)
            autoExposeSettled_ = true;
        return;
    }
    const sensor::ExposureSettings chosen = sensor::programExposure(*next, activeFormat());
    if (CMTimeCompare(chosen.duration, exposureDuration()) != 0)
        exposureDurationProperty.set(chosen.duration);
    if (chosen.iso != ISO())
        isoProperty.set(chosen.iso);
}

void SimulatedCaptureDevice::stepFocus() {
    const AVCaptureFocusMode mode = focusMode();
    const bool adjusting = mode == AVCaptureFocusMode::continuousAutoFocus ||
                           (mode == AVCaptureFocusMode::autoFocus && !autoFocusSettled_);
    if (!adjusting)
        return;
    const SensorSettings settings = currentSettings();
    auto next = sensor::nextLensPosition(settings.lensPosition, source_->sharpLensPosition(settings));
    if (!next) {
        if (mode == AVCaptureFocusMode::autoFocus)
            autoFocusSettled_ = true;
        return;
    }
    lensPositionProperty.set(*next);
}
