#pragma once
// The camera screen as the application builds it, on a simulated camera that ignores the
// machine's temperature, with the main queue run by the test. Tests that use it need an
// OpenGL ES context (label gl).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/MainStoryboard.h"
#include "camera/CameraViewController.h"
#include "capture/CaptureDeviceFactory.h"
#include "capture/virtual/SimulatedCaptureDevice.h"
#include "dispatch/DispatchQueue.h"
#include "dispatch/DispatchSemaphore.h"
#include "pipeline/GPUContext.h"
#include "support/MainQueue.h"
#include "support/PrintCapture.h"

// Waits until everything queued on `queue` so far has run, keeping the main queue going
// (the device may wait for it).
inline void flush(DispatchQueue& queue) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    queue.async([done] {
        *done = true;
        DispatchQueue::main().async([] {}); // wakes the main thread
    });
    runMainUntil([&] { return done->load(); });
}

// Holds a serial queue's thread until destruction, so a test can see that work was queued
// there rather than done at once. Never hold the main queue.
class QueueGate {
  public:
    explicit QueueGate(DispatchQueue& queue) {
        queue.async([gate = gate_] { gate->wait(); });
    }
    ~QueueGate() { gate_->signal(); }

  private:
    std::shared_ptr<DispatchSemaphore> gate_ = std::make_shared<DispatchSemaphore>(0);
};

// Makes `change` on `device` the way a writer must: inside its configuration lock.
template <typename Change> void withDeviceLock(AVCaptureDevice& device, Change change) {
    NSError error;
    ASSERT_TRUE(device.lockForConfiguration(&error)) << error.localizedDescription();
    change();
    device.unlockForConfiguration();
}

// Whether another thread can take the device's configuration lock: one that a thread kept
// by mistake would hold it up.
inline bool lockableFromAnotherThread(AVCaptureDevice& device) {
    bool locked = false;
    std::thread([&] {
        NSError error;
        if ((locked = device.lockForConfiguration(&error)))
            device.unlockForConfiguration();
    }).join();
    return locked;
}

class ScreenFixture : public testing::Test {
  protected:
    void SetUp() override {
        NSError error;
        if (!GPUContext::initialize(&error))
            GTEST_SKIP() << "no OpenGL ES context: " << error.localizedDescription();
        CaptureDeviceOptions options;
        options.followThermalPressure = false; // no pressure report unless the test makes it
        device =
            std::dynamic_pointer_cast<SimulatedCaptureDevice>(openCaptureDevice("virtual", options, &error));
        ASSERT_TRUE(device) << error.localizedDescription();
        AVCaptureDevice::setDefaultDeviceFactory(
            [d = device](AVCaptureDevicePosition, NSError*) -> std::shared_ptr<AVCaptureDevice> {
                return d;
            });
        screen = instantiateCameraScreen();
    }
    void TearDown() override {
        if (!screen)
            return;
        if (screen->camera) {
            screen->camera->stopCapture();
            screen->camera->removeAllTargets();
        }
        flush(*screen->sessionQueue);
        screen->sessionQueue->sync([s = screen] { s->removeObservers(); });
        // Frames on their way may still wait for the main queue, and their GPU work must
        // end with the test, not while the process exits (the GL driver's exit handlers
        // crash then).
        runMainUntil([] { return false; }, std::chrono::milliseconds(50));
        GPUContext::shared().runSync([] {});
        AVCaptureDevice::setDefaultDeviceFactory(nullptr);
    }

    // Loads the screen (pipeline, capture, observers, start-up focus) and lets the
    // session queue settle.
    void load() {
        screen->viewDidLoad();
        screen->viewWillAppear(false);
        flush(*screen->sessionQueue);
        flush(*screen->sessionQueue);
        runMainUntil([] { return false; }, std::chrono::milliseconds(20));
    }

    // What the system printed, less the frame analysis's lines, which come with every
    // camera frame whatever a test does.
    std::vector<std::string> printedExceptFrames() const {
        std::vector<std::string> out;
        for (auto& line : printed.lines())
            if (!(line.starts_with("found ") && line.ends_with(" bounding boxes")) &&
                !line.starts_with("dropping frame "))
                out.push_back(line);
        return out;
    }

    // Stops the camera's own automatic exposure and focus from changing the device, so
    // that every change a test sees is one it made. Call on the main thread.
    void holdDeviceStill() {
        withDeviceLock(*device, [&] {
            device->setExposureMode(AVCaptureExposureMode::locked);
            device->setFocusMode(AVCaptureFocusMode::locked);
        });
        DispatchQueue::main().drain(); // the refreshes those changes queued
    }

    // The screen's observation tokens, and whether the session queue's thread still holds
    // the device's configuration lock: both read on that queue, where they live.
    size_t observationCount() {
        size_t count = 0;
        screen->sessionQueue->sync([&] { count = screen->keyValueObservations.size(); });
        return count;
    }
    bool sessionHoldsLock() {
        bool held = true;
        screen->sessionQueue->sync([&] { held = device->holdsConfigurationLock(); });
        return held;
    }

    static inline const std::string refusal = "The configuration lock was refused (simulated)";
    PrintCapture printed;
    std::shared_ptr<SimulatedCaptureDevice> device;
    std::shared_ptr<CameraViewController> screen;
};
