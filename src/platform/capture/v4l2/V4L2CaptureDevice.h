#pragma once
// A webcam through V4L2 (libv4l2). The device's properties map onto the camera's
// controls as V4L2ControlMap describes; every write is read back, since drivers clamp
// and round, and observers see the value in effect. Changes another program makes to the
// controls (v4l2-ctl, a second viewer) arrive as control events and reach the
// observable properties on the device thread. A control the camera lacks makes the
// matching isFocusModeSupported / isExposureModeSupported /
// isLockingFocusWithCustomLensPositionSupported answer false.
//
// Frames: the mode V4L2ModeChoice picks, MJPEG or YUYV decoded here (RGB24 from libv4l2
// for other cameras), turned into RGBA of the picture size (640 × 480 unless asked
// otherwise), scaled to cover and centre-cropped.
// The active format's frame-rate range is the mode's. The camera sets the pace; an active
// minimum frame duration is written to the camera (VIDIOC_S_PARM) where it takes one, and
// otherwise caps the delivered rate in software (frames that come too soon are dropped).
//
// Threads: one I/O thread, started once, waits on the camera and delivers frames; it
// idles while not streaming, so start and stop never create or join threads. Only the
// destructor joins it: do not destroy the device from its I/O thread or device thread, nor
// while a delivery may be waiting for the destroying thread. Completion handlers and
// control changes made by others run on the device thread (a queue labelled "device").
//
// A camera that is unplugged or fails while streaming (ENODEV, EIO) writes one line to
// standard error, reports itself unavailable and is closed. It is opened again when a node
// carrying its identity appears (inotify on /dev, no polling), whatever its number, and
// sooner for a failure that may pass while the camera stays plugged in (EIO, EBUSY, ENOSPC
// at STREAMON: not enough USB bandwidth), retried with a growing back-off. It comes back
// with the same mode, frame duration, streaming state and the settings the user made (a
// camera powers up with its defaults), and reports itself available once pictures flow. A
// stream that stalls (nothing for a few frame durations) is reported unavailable, restarted
// once, then reopened. Each going and coming back is one line, however many tries it takes.
// Without a way to reopen (a camera given as an io only), a failure is final: the failure
// handler is called once on the I/O thread and the device stays stopped.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "capture/AVCaptureDevice.h"
#include "capture/v4l2/V4L2CameraIdentity.h"
#include "capture/v4l2/V4L2ControlMap.h"
#include "capture/v4l2/V4L2Io.h"
#include "capture/v4l2/V4L2ModeChoice.h"
#include "capture/v4l2/V4L2PanelControls.h"
#include "dispatch/DispatchQueue.h"

class CameraFrameDecoder;
class ThermalPressureMonitor;

class V4L2CaptureDevice final : public AVCaptureDevice {
  public:
    using FailureHandler = std::function<void(const NSError& error)>;
    // Called on the I/O thread when the camera goes away or stalls (false) and comes back.
    using AvailabilityHandler = std::function<void(bool available)>;
    // Opens the camera with this identity again after it came back, wherever it is now, and
    // says in `foundAt` the name it was found by; null when it cannot (yet), with the errno
    // of the try.
    using Reopen = std::function<std::unique_ptr<V4L2Io>(const V4L2CameraIdentity&, int* errorNumber,
                                                         std::string* foundAt)>;

    // Sets up the camera behind `io` (named `path` in messages): its controls, its mode
    // (see V4L2ModeChoice.h), control-change subscriptions. Null with `error` when no
    // usable format is granted, and null for a null `io` (a camera that did not open).
    // `reopen` (may be empty) brings it back after an unplug. Every frame becomes a picture
    // of `picture`'s size.
    static std::shared_ptr<V4L2CaptureDevice> open(std::unique_ptr<V4L2Io> io, const std::string& path,
                                                   NSError* error, Reopen reopen = {},
                                                   PictureSize picture = defaultPictureSize);
    ~V4L2CaptureDevice() override;

    std::string localizedName() const override;
    bool isFocusModeSupported(AVCaptureFocusMode mode) const override;
    bool isLockingFocusWithCustomLensPositionSupported() const override;
    bool isExposureModeSupported(AVCaptureExposureMode mode) const override;
    float minExposureTargetBias() const override { return controls_.minBias(); }
    float maxExposureTargetBias() const override { return controls_.maxBias(); }
    double maxAvailableVideoZoomFactor() const override { return controls_.maxZoom(); }

    [[nodiscard]] bool startStreaming(FrameHandler handler, NSError* error) override;
    void stopStreaming() override;
    bool isStreaming() const override;

    void setFailureHandler(FailureHandler handler);
    void setAvailabilityHandler(AvailabilityHandler handler);
    bool hasFailed() const;
    // How the active minimum frame duration is kept, for statistics: "rate set on the
    // camera 1/5 s" when the camera was told, "rate kept in software 1/5 s" when frames
    // are dropped to it, "" unthrottled.
    std::string frameRateControl() const;
    // frameRateControl(), then ", JPEG warnings tolerated in N frames" once there are any.
    std::string statisticsNote() const override;
    // Keeps `monitor` (reporting to this device) for the device's lifetime; it is stopped
    // first when the device goes.
    void adoptPressureMonitor(std::unique_ptr<ThermalPressureMonitor> monitor);
    std::shared_ptr<CameraControls> cameraControls() const override { return panel_; }

    V4L2CaptureDevice(std::unique_ptr<V4L2Io> io, V4L2ControlMap controls, const std::string& path,
                      V4L2ModeChoice mode, Reopen reopen);

  protected:
    void applyFocus(AVCaptureFocusMode mode, float lensPosition) override;
    void applyExposure(AVCaptureExposureMode mode, CMTime duration, float iso, float bias) override;
    void applyZoom(double factor) override;
    float lensPositionInEffect(float) const override { return lensInEffect_; }
    CMTime exposureDurationInEffect(CMTime) const override { return durationInEffect_; }
    float isoInEffect(float) const override { return isoInEffect_; }
    float exposureTargetBiasInEffect(float) const override { return biasInEffect_; }
    double videoZoomFactorInEffect(double) const override { return zoomInEffect_; }
    void runOnDeviceThread(std::function<void()> work) override { deviceQueue_.async(std::move(work)); }
    void applyFrameDurations(CMTime min, CMTime max) override;

  private:
    using Clock = std::chrono::steady_clock;

    std::shared_ptr<V4L2Io> io() const; // null while the camera is away
    int32_t write(const V4L2ControlInfo& control, int32_t value);
    void readInitialValues(V4L2Io& io);
    // Reads `ids` back on the device thread and publishes what changed.
    void refreshLater(std::vector<uint32_t> ids);
    void publish(uint32_t id, int32_t value); // device thread, under an OwnChange
    void ioLoop();
    // What a camera just opened needs before use: whether it takes frame durations, and
    // events for the controls observers see.
    void takeUp(V4L2Io& camera);
    // I/O thread: writes the wanted frame duration to the camera (or leaves it to software).
    void applyFrameInterval(V4L2Io& io);
    // Whether `minDuration` is longer than the mode's shortest frame duration.
    bool throttles(CMTime minDuration) const;
    // Turns `frame` into the picture, gives the camera's buffer back, and hands the picture
    // on; an errno when the camera refuses the buffer back.
    int deliver(V4L2Io& camera, const V4L2Frame& frame, Clock::time_point& lastDelivery);
    void convert(const V4L2Frame& frame, uint8_t* rgba, size_t bytesPerRow, bool& damaged);
    // I/O thread: the camera went away (`error`): closes it, or fails for good without `reopen_`.
    void lose(int error, const std::string& what);
    // I/O thread: blocks until the node is back and opened, or the device is quitting.
    std::shared_ptr<V4L2Io> reconnect();
    // I/O thread: writes the settings observers see back to a camera just reopened.
    void restoreSettings(V4L2Io& camera);
    // `why` is made into a line only when the state changes: every frame says it is available.
    void setAvailable(bool available, std::string_view why);
    void fail(int error, const std::string& what);
    void wakeIoThread();
    void waitUntilQuitting(); // I/O thread, when nothing is left to do

    const std::string path_;
    const V4L2ControlMap controls_;
    const Reopen reopen_;
    const int wakeFd_;                         // wakes the I/O thread while no camera is open
    std::shared_ptr<V4L2PanelControls> panel_; // the controls beyond those mapped above

    mutable std::mutex ioMutex_;
    std::shared_ptr<V4L2Io> io_; // replaced by the I/O thread on reconnection

    // I/O thread only.
    V4L2ModeChoice mode_;
    bool cameraSetsRate_ = false; // V4L2_CAP_TIMEPERFRAME
    std::unique_ptr<CameraFrameDecoder> decoder_;
    bool damagedFrameReported_ = false;
    std::atomic<unsigned long> framesWithWarnings_{0}; // written by the I/O thread
    bool retryAtOnce_ = true;                          // reconnect() tries before waiting for the node
    std::chrono::milliseconds retryDelay_{0};          // the back-off for a failure that may pass; 0: none
    bool announceOnFrame_ = false;                     // "is back" once the first picture arrives
    bool everStreamed_ = false;                        // EBUSY at STREAMON is final only before this
    V4L2CameraIdentity identity_;

    // Guarded by the configuration lock: what the last write put into effect.
    float lensInEffect_ = 0.5f;
    CMTime durationInEffect_{1, 30};
    float isoInEffect_ = 100;
    float biasInEffect_ = 0;
    double zoomInEffect_ = 1.0;
    std::atomic<double> digitalZoom_{1.0};

    mutable std::mutex mutex_;
    // The name the lines about the camera going and coming back give it: as it was chosen,
    // or the node it came back at under another number (see cameraNameForLines).
    std::string lineName_;
    std::string lineName() const {
        std::lock_guard lock(mutex_);
        return lineName_;
    }
    std::condition_variable quitSignal_;
    bool streaming_ = false;
    bool quitting_ = false;
    bool failed_ = false;
    bool available_ = true;
    NSError failure_;
    CMTime wantedMinDuration_ = kCMTimeInvalid; // the active minimum frame duration
    bool intervalPending_ = false;
    std::string frameRateControl_;
    uint64_t framesDelivered_ = 0;
    // Held by pointer: a delivery takes its own reference without copying the closure.
    std::shared_ptr<const FrameHandler> handler_;
    FailureHandler failureHandler_;
    AvailabilityHandler availabilityHandler_;
    std::thread ioThread_;

    std::unique_ptr<ThermalPressureMonitor> pressureMonitor_;
    DispatchQueue deviceQueue_{"device"}; // last: destroyed first
};
