#pragma once
// The capture device: focus, exposure, zoom, frame durations, white balance and system
// pressure, every one of them observable, and the frames it produces.
//
// Writes need the configuration lock: lockForConfiguration() either grants it (and the
// caller must unlockForConfiguration() on the same thread) or refuses it with an error
// that has a printable description. Writing without holding the lock is a programming
// error and aborts. The lock excludes other threads for the length of one change.
//
// Threads: property changes are delivered to observers on the thread that makes them:
// the caller's for writes, the device's own thread for changes the device makes itself
// (auto exposure, auto focus) and for completion handlers. Frames arrive on the device's
// frame thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NSError.h"
#include "media/CMSampleBuffer.h"
#include "media/CMTime.h"
#include "observe/KeyValueObserving.h"

enum class AVCaptureFocusMode : int { locked = 0, autoFocus = 1, continuousAutoFocus = 2 };
enum class AVCaptureExposureMode : int { locked = 0, autoExpose = 1, continuousAutoExposure = 2, custom = 3 };
enum class AVCaptureWhiteBalanceMode : int {
    locked = 0,
    autoWhiteBalance = 1,
    continuousAutoWhiteBalance = 2
};
enum class AVCaptureDevicePosition : int { unspecified = 0, back = 1, front = 2 };

class CameraControls;

using AVCaptureSystemPressureLevel = std::string;
extern const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelNominal;  // "nominal"
extern const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelFair;     // "fair"
extern const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelSerious;  // "serious"
extern const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelCritical; // "critical"
extern const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelShutdown; // "shutdown"

struct AVCaptureSystemPressureState {
    AVCaptureSystemPressureLevel level = AVCaptureSystemPressureLevelNominal;
};

struct AVFrameRateRange {
    double minFrameRate = 1, maxFrameRate = 30;
    CMTime minFrameDuration{1, 30}; // the shortest duration, the highest rate
    CMTime maxFrameDuration{1, 1};  // the longest duration, the lowest rate
};

struct AVCaptureDeviceFormat {
    int width = 640, height = 480;
    CMTime minExposureDuration{1, 10000};
    CMTime maxExposureDuration{1, 2};
    float minISO = 25, maxISO = 1600;
    std::vector<AVFrameRateRange> videoSupportedFrameRateRanges{AVFrameRateRange{}};
};

using AVCaptureSessionPreset = std::string;
extern const AVCaptureSessionPreset AVCaptureSessionPreset640x480; // "640x480"

class AVCaptureDevice {
  public:
    using FrameHandler = std::function<void(CMSampleBufferRef)>;
    using SyncTimeHandler = std::function<void(CMTime syncTime)>;

    virtual ~AVCaptureDevice();
    AVCaptureDevice(const AVCaptureDevice&) = delete;
    AVCaptureDevice& operator=(const AVCaptureDevice&) = delete;

    virtual std::string localizedName() const = 0;

    // The configuration lock.
    [[nodiscard]] bool lockForConfiguration(NSError* error);
    void unlockForConfiguration();
    bool holdsConfigurationLock() const; // by the calling thread

    // Focus.
    AVCaptureFocusMode focusMode() const { return focusModeProperty.get(); }
    void setFocusMode(AVCaptureFocusMode mode);
    virtual bool isFocusModeSupported(AVCaptureFocusMode mode) const = 0;
    virtual bool isLockingFocusWithCustomLensPositionSupported() const = 0;
    float lensPosition() const { return lensPositionProperty.get(); }
    // Locks the focus at `lensPosition` (0 to 1); `handler` (may be empty) is called once,
    // on the device's thread, when the position is in effect.
    void setFocusModeLockedWithLensPosition(float lensPosition, SyncTimeHandler handler);

    // Exposure.
    AVCaptureExposureMode exposureMode() const { return exposureModeProperty.get(); }
    void setExposureMode(AVCaptureExposureMode mode);
    virtual bool isExposureModeSupported(AVCaptureExposureMode mode) const = 0;
    float exposureTargetBias() const { return exposureTargetBiasProperty.get(); }
    virtual float minExposureTargetBias() const { return -8; }
    virtual float maxExposureTargetBias() const { return 8; }
    void setExposureTargetBias(float bias, SyncTimeHandler handler);
    CMTime exposureDuration() const { return exposureDurationProperty.get(); }
    float ISO() const { return isoProperty.get(); }
    void setExposureModeCustomWithDuration(CMTime duration, float iso, SyncTimeHandler handler);

    const AVCaptureDeviceFormat& activeFormat() const { return format_; }

    // Zoom.
    double videoZoomFactor() const { return videoZoomFactorProperty.get(); }
    void setVideoZoomFactor(double factor);
    virtual double minAvailableVideoZoomFactor() const { return 1.0; }
    virtual double maxAvailableVideoZoomFactor() const { return 16.0; }

    // Frame durations.
    CMTime activeVideoMinFrameDuration() const;
    CMTime activeVideoMaxFrameDuration() const;
    void setActiveVideoMinFrameDuration(CMTime duration);
    void setActiveVideoMaxFrameDuration(CMTime duration);

    AVCaptureWhiteBalanceMode whiteBalanceMode() const { return whiteBalanceModeProperty.get(); }
    AVCaptureSystemPressureState systemPressureState() const { return systemPressureStateProperty.get(); }

    // Frames. `handler` is called on the device's frame thread, one frame at a time, until
    // stopStreaming(). stopStreaming() never waits for a delivery in progress (it may be
    // waiting for the very thread that stops): a delivery that had begun may still run to
    // its end after it returns, and no new one begins. Returns false (with `error`) when
    // the device cannot stream.
    [[nodiscard]] virtual bool startStreaming(FrameHandler handler, NSError* error) = 0;
    virtual void stopStreaming() = 0;
    virtual bool isStreaming() const = 0;

    // What the device adds to the statistics line: how a lowered frame rate is kept (a
    // webcam says whether the camera was told or frames are dropped), pictures it decoded
    // in spite of warnings; empty where there is nothing to say.
    virtual std::string statisticsNote() const { return {}; }

    // The camera's further controls (white balance, brightness...), or null where it has none.
    virtual std::shared_ptr<CameraControls> cameraControls() const { return nullptr; }

    // The observable properties, for key-value observation.
    Observable<AVCaptureSystemPressureState> systemPressureStateProperty;
    Observable<AVCaptureFocusMode> focusModeProperty{AVCaptureFocusMode::continuousAutoFocus};
    Observable<float> lensPositionProperty{0.5f};
    Observable<double> videoZoomFactorProperty{1.0};
    Observable<AVCaptureExposureMode> exposureModeProperty{AVCaptureExposureMode::continuousAutoExposure};
    Observable<float> exposureTargetBiasProperty{0.0f};
    Observable<CMTime> exposureDurationProperty{CMTime{1, 60}};
    Observable<float> isoProperty{100.0f};
    Observable<AVCaptureWhiteBalanceMode> whiteBalanceModeProperty{
        AVCaptureWhiteBalanceMode::continuousAutoWhiteBalance};

    // The device's defaulting: the capture device that cameras open when none is named.
    // The host installs a factory (virtual camera, still image or webcam) at start-up.
    using DeviceFactory = std::function<std::shared_ptr<AVCaptureDevice>(AVCaptureDevicePosition, NSError*)>;
    static void setDefaultDeviceFactory(DeviceFactory factory);
    static std::shared_ptr<AVCaptureDevice> defaultDevice(AVCaptureDevicePosition position, NSError* error);

  protected:
    explicit AVCaptureDevice(AVCaptureDeviceFormat format);

    // Switches that scripts and tests use on any device (through CaptureDeviceSwitches,
    // never the application): refuse the configuration lock from now on (true) or grant
    // it again (false); report a system-pressure level (set on the device's own thread, as
    // a real device reports it).
    void setRefusesConfigurationLock(bool refuse) { refusesLock_.store(refuse); }
    bool refusesConfigurationLock() const { return refusesLock_.load(); }
    void reportSystemPressure(const AVCaptureSystemPressureLevel& level);
    friend struct CaptureDeviceSwitches;

    // What a concrete device does when a write has been accepted; called with the
    // configuration lock held, before observers are told. Defaults do nothing.
    virtual void applyFocus(AVCaptureFocusMode, float /*lensPosition*/) {}
    virtual void applyExposure(AVCaptureExposureMode, CMTime /*duration*/, float /*iso*/, float /*bias*/) {}
    virtual void applyZoom(double /*factor*/) {}
    virtual void applyFrameDurations(CMTime /*min*/, CMTime /*max*/) {}
    // The values a device actually put into effect for the write just applied: hardware
    // clamps and rounds to its own steps, and observers must see what is in effect.
    // Called right after the matching apply* hook; the defaults keep what was asked for.
    virtual float lensPositionInEffect(float requested) const { return requested; }
    virtual CMTime exposureDurationInEffect(CMTime requested) const { return requested; }
    virtual float isoInEffect(float requested) const { return requested; }
    virtual float exposureTargetBiasInEffect(float requested) const { return requested; }
    virtual double videoZoomFactorInEffect(double requested) const { return requested; }
    // Whether the configuration lock is refused, and with which error. The default
    // refuses while the switch above is on, but never to the device itself taking the
    // lock for a change of its own (OwnChange): the switch is aimed at the application.
    virtual std::optional<NSError> configurationLockRefusal() const;
    // Runs `work` on the device's own thread (completion handlers, self-made changes).
    virtual void runOnDeviceThread(std::function<void()> work) = 0;
    // The time the device's clock shows now.
    virtual CMTime deviceClockTime() const;

    void requireLock(const char* operation) const;

  private:
    AVCaptureDeviceFormat format_;
    std::atomic<bool> refusesLock_{false};
    std::recursive_mutex configurationMutex_;
    std::atomic<std::thread::id> lockOwner_{};
    int lockDepth_ = 0;
    mutable std::mutex durationMutex_;
    CMTime minFrameDuration_, maxFrameDuration_;
};
