#pragma once
// A webcam through V4L2 (libv4l2). The device's properties map onto the camera's
// controls as V4L2ControlMap describes; every write is read back, since drivers clamp
// and round, and observers see the value in effect. Changes another program makes to the
// controls (v4l2-ctl, a second viewer) arrive as control events and reach the
// observable properties on the device thread. A control the camera lacks makes the
// matching isFocusModeSupported / isExposureModeSupported /
// isLockingFocusWithCustomLensPositionSupported answer false.
//
// Frames: RGB24 from libv4l2 (which converts MJPEG or YUYV), turned into 640 × 480 RGBA,
// scaled to fit on black when the camera grants another size. The camera sets the pace;
// an active minimum frame duration longer than the format's shortest caps the delivered
// rate (frames that come too soon are dropped).
//
// Threads: one I/O thread, started once, waits on the camera and delivers frames; it
// idles while not streaming, so start and stop never create or join threads. Only the
// destructor joins it: do not destroy the device from its I/O thread or device thread, nor
// while a delivery may be waiting for the destroying thread. Completion handlers and
// control changes made by others run on the device thread (a queue labelled "device").
//
// A camera that fails while streaming (unplugged, I/O error) writes one line to standard
// error, calls the failure handler once on the I/O thread and stays stopped.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/AVCaptureDevice.h"
#include "capture/V4L2ControlMap.h"
#include "capture/V4L2Io.h"
#include "dispatch/DispatchQueue.h"

class ThermalPressureMonitor;

class V4L2CaptureDevice final : public AVCaptureDevice {
  public:
    using FailureHandler = std::function<void(const NSError& error)>;

    // Sets up the camera behind `io` (named `path` in messages): its controls, a 640 × 480
    // RGB24 format (or the nearest the driver grants), control-change subscriptions.
    // Null with `error` when no usable format is granted.
    static std::shared_ptr<V4L2CaptureDevice> open(std::unique_ptr<V4L2Io> io, const std::string& path,
                                                   NSError* error);
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
    bool hasFailed() const;
    // Keeps `monitor` (reporting to this device) for the device's lifetime; it is stopped
    // first when the device goes.
    void adoptPressureMonitor(std::unique_ptr<ThermalPressureMonitor> monitor);

    V4L2CaptureDevice(std::unique_ptr<V4L2Io> io, V4L2ControlMap controls, const std::string& path,
                      V4L2Format format);

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

  private:
    using Clock = std::chrono::steady_clock;

    int32_t write(const V4L2ControlInfo& control, int32_t value);
    void readInitialValues();
    // Reads `ids` back on the device thread and publishes what changed.
    void refreshLater(std::vector<uint32_t> ids);
    void publish(uint32_t id, int32_t value); // device thread, under an OwnChange
    void ioLoop();
    void deliver(const std::vector<uint8_t>& rgb, Clock::time_point& lastDelivery);
    void fail(int error, const std::string& what);

    const std::unique_ptr<V4L2Io> io_;
    const std::string path_;
    const V4L2ControlMap controls_;
    const V4L2Format format_;

    // Guarded by the configuration lock: what the last write put into effect.
    float lensInEffect_ = 0.5f;
    CMTime durationInEffect_{1, 30};
    float isoInEffect_ = 100;
    float biasInEffect_ = 0;
    double zoomInEffect_ = 1.0;
    std::atomic<double> digitalZoom_{1.0};

    mutable std::mutex mutex_;
    std::condition_variable quitSignal_;
    bool streaming_ = false;
    bool quitting_ = false;
    bool failed_ = false;
    NSError failure_;
    uint64_t framesDelivered_ = 0;
    FrameHandler handler_;
    FailureHandler failureHandler_;
    std::thread ioThread_;

    std::unique_ptr<ThermalPressureMonitor> pressureMonitor_;
    DispatchQueue deviceQueue_{"device"}; // last: destroyed first
};
