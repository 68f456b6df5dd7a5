#pragma once
// A capture device whose sensor is simulated: it has every property behaviour of the
// interface (ranges, modes, automatic exposure and focus that move over time), switches
// that let tests and scripts make it misbehave the ways real hardware does, and a frame
// thread that paces frames at the active frame rate. What the sensor looks at is a
// FrameSource: the virtual scene, or a still image.
//
// Threads:
// - the device thread (a serial queue labelled "device") runs completion handlers, the
//   automatic exposure and focus steps (eight a second while streaming) and pressure
//   reports, so observers see the device's own changes there;
// - the frame thread is started once and idles while not streaming, so starting and
//   stopping never create or join threads. Only destruction joins it: the owner must
//   not destroy the device from the frame thread or the device thread, nor while a frame
//   delivery may be waiting for the destroying thread.
//
// A concrete device's destructor must call shutDown() first, so that no thread is inside
// the device while its parts are being taken down.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture/AVCaptureDevice.h"
#include "capture/PictureSize.h"
#include "dispatch/DispatchQueue.h"
#include "media/CVPixelBuffer.h"

class ThermalPressureMonitor;
class VirtualCameraControls;

// What the sensor is set to for one frame.
struct SensorSettings {
    double exposureSeconds = 1.0 / 60.0;
    float iso = 100.0f;
    float lensPosition = 0.5f;
    double zoomFactor = 1.0;
    double seconds = 0.0;  // since the device was made; drives anything that moves
    uint64_t sequence = 0; // counts rendered frames; seeds the noise
};

// What a simulated sensor looks at.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // An RGBA buffer of the device's picture size (from the frame pool, so that a steady
    // stream allocates nothing). Called on the frame thread, one frame at a time.
    virtual CVPixelBufferRef render(const SensorSettings& settings) = 0;
    // The frame's mean linear brightness as the exposure meter reads it with `settings`.
    // Called on the device thread, concurrently with render().
    virtual double meteredBrightness(const SensorSettings& settings) const = 0;
    // The lens position at which what the centre of the frame shows is sharp.
    // Called on the device thread, concurrently with render().
    virtual float sharpLensPosition(const SensorSettings& settings) const = 0;
};

class SimulatedCaptureDevice : public AVCaptureDevice {
  public:
    // The simulated camera is a test instrument: its switches are part of its interface.
    using AVCaptureDevice::reportSystemPressure;
    using AVCaptureDevice::setRefusesConfigurationLock;
    ~SimulatedCaptureDevice() override;

    std::string localizedName() const override { return name_; }
    bool isFocusModeSupported(AVCaptureFocusMode mode) const override;
    bool isLockingFocusWithCustomLensPositionSupported() const override;
    bool isExposureModeSupported(AVCaptureExposureMode mode) const override;

    [[nodiscard]] bool startStreaming(FrameHandler handler, NSError* error) override;
    void stopStreaming() override;
    bool isStreaming() const override;

    // Switches for tests and scripts, beside the interface's lock refusal and pressure
    // report; any thread.
    void setLacksLockedFocus(bool lacks) { lacksLockedFocus_ = lacks; }
    void setLacksCustomLensPosition(bool lacks) { lacksCustomLensPosition_ = lacks; }
    void setLacksLockedExposure(bool lacks) { lacksLockedExposure_ = lacks; }
    void setLacksCustomExposure(bool lacks) { lacksCustomExposure_ = lacks; }
    // Frames as fast as the machine makes them, whatever the frame durations say.
    void setUnlimitedFrameRate(bool unlimited);
    // Keeps `monitor` (reporting to this device) for the device's lifetime; it is stopped
    // first when the device goes.
    void adoptPressureMonitor(std::unique_ptr<ThermalPressureMonitor> monitor);
    std::shared_ptr<CameraControls> cameraControls() const override;

  protected:
    // The active format reports `size`, the size of every buffer `source` renders.
    SimulatedCaptureDevice(std::string name, std::unique_ptr<FrameSource> source,
                           PictureSize size = defaultPictureSize);
    // Stops the pressure monitor and the frame thread and runs what the device thread has
    // queued; afterwards the device's own threads touch nothing. Idempotent.
    void shutDown();
    // Gives the sensor white balance and power-line controls (before streaming starts).
    void offerSensorControls();

    void applyFocus(AVCaptureFocusMode mode, float lensPosition) override;
    void applyExposure(AVCaptureExposureMode mode, CMTime duration, float iso, float bias) override;
    void applyFrameDurations(CMTime min, CMTime max) override;
    void runOnDeviceThread(std::function<void()> work) override;

  private:
    using Clock = std::chrono::steady_clock;

    void frameLoop();
    Clock::duration frameInterval() const;
    SensorSettings currentSettings() const;
    // The sensor controls' tint and flicker on a copy of `pixels`, where they change anything.
    void developFrame(CVPixelBufferRef& pixels, const SensorSettings& settings) const;
    void controlStep(); // device thread
    void stepExposure();
    void stepFocus();

    const std::string name_;
    const std::unique_ptr<FrameSource> source_;
    const Clock::time_point createdAt_ = Clock::now();

    std::atomic<bool> lacksLockedFocus_{false};
    std::atomic<bool> lacksCustomLensPosition_{false};
    std::atomic<bool> lacksLockedExposure_{false};
    std::atomic<bool> lacksCustomExposure_{false};

    // Guarded by the configuration lock: one-shot modes hold once they have arrived.
    bool autoExposeSettled_ = false;
    bool autoFocusSettled_ = false;
    // Device thread only.
    bool controlLoopRunning_ = false;

    // The frame thread's state.
    mutable std::mutex frameMutex_;
    std::condition_variable frameWake_;
    bool streaming_ = false;
    bool quitting_ = false;
    bool unlimitedFrameRate_ = false;
    uint64_t streamGeneration_ = 0; // changes with every start and stop
    // Held by pointer: a delivery takes its own reference without copying the closure.
    std::shared_ptr<const FrameHandler> handler_;
    uint64_t framesDelivered_ = 0;
    Clock::time_point lastFrameStart_{};
    std::atomic<bool> shuttingDown_{false};
    std::thread frameThread_;

    std::unique_ptr<ThermalPressureMonitor> pressureMonitor_;
    std::shared_ptr<VirtualCameraControls> sensorControls_;
    // Last, so it is destroyed first: closures still queued run while the rest is alive.
    DispatchQueue deviceQueue_{"device"};
};
