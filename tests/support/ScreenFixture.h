#pragma once
// The camera screen as the application builds it, on a simulated camera, with the main
// queue run by the test. Tests that use it need an OpenGL ES context (label gl).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/MainStoryboard.h"
#include "camera/CameraViewController.h"
#include "capture/CaptureDeviceFactory.h"
#include "capture/SimulatedCaptureDevice.h"
#include "dispatch/DispatchQueue.h"
#include "pipeline/GPUContext.h"
#include "support/PrintCapture.h"

// Runs the main queue until `done()` or the deadline; returns done().
template <typename Pred> bool runMainUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    // `done()` may turn true on another thread (a flag set on a capture thread) with no
    // main-queue work to wake this one, so it is looked at again every few milliseconds
    // rather than only when work arrives.
    constexpr auto recheck = std::chrono::milliseconds(5);
    auto deadline = DispatchQueue::Clock::now() + limit;
    while (!done() && DispatchQueue::Clock::now() < deadline) {
        DispatchQueue::main().waitForWork(std::min(deadline, DispatchQueue::Clock::now() + recheck));
        DispatchQueue::main().drain();
    }
    return done();
}

// Waits until everything queued on `queue` so far has run, keeping the main queue going
// (work on the session queue never waits for the main thread, but the device may).
inline void flush(DispatchQueue& queue) {
    std::atomic<bool> done{false};
    queue.async([&] {
        done = true;
        // Wakes the main thread, which otherwise waits for main-queue work; `done` may
        // be gone by now, so it is not touched again.
        DispatchQueue::main().async([] {});
    });
    runMainUntil([&] { return done.load(); });
}

// Holds a serial queue's thread in a closure until open() (or destruction), so a test can
// see that work was queued there rather than done at once. Never hold the main queue.
class QueueGate {
public:
    explicit QueueGate(DispatchQueue& queue) {
        queue.async([state = state_] {
            std::unique_lock lock(state->mutex);
            state->changed.wait(lock, [&] { return state->open; });
        });
    }
    ~QueueGate() { open(); }
    QueueGate(const QueueGate&) = delete;
    QueueGate& operator=(const QueueGate&) = delete;
    void open() {
        {
            std::lock_guard lock(state_->mutex);
            state_->open = true;
        }
        state_->changed.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Makes `change` on `device` the way a writer must: inside its configuration lock.
template <typename Change> void withDeviceLock(AVCaptureDevice& device, Change change) {
    NSError error;
    ASSERT_TRUE(device.lockForConfiguration(&error)) << error.localizedDescription();
    change();
    device.unlockForConfiguration();
}

// Whether a thread other than the caller's can take the device's configuration lock (it
// gives it back at once). One that a thread kept by mistake would hold this one up.
inline bool lockableFromAnotherThread(AVCaptureDevice& device) {
    bool locked = false;
    std::thread other([&] {
        NSError error;
        locked = device.lockForConfiguration(&error);
        if (locked) device.unlockForConfiguration();
    });
    other.join();
    return locked;
}

class ScreenFixture : public testing::Test {
protected:
    void SetUp() override {
        NSError error;
        if (!GPUContext::initialize(&error)) GTEST_SKIP() << "no OpenGL ES context: " << error.localizedDescription();
        hasGPUContext_ = true;
        device = std::dynamic_pointer_cast<SimulatedCaptureDevice>(openCaptureDevice("virtual", deviceOptions(), &error));
        ASSERT_TRUE(device) << error.localizedDescription();
        AVCaptureDevice::setDefaultDeviceFactory(
            [d = device](AVCaptureDevicePosition, NSError*) -> std::shared_ptr<AVCaptureDevice> { return d; });
        screen = instantiateCameraScreen();
    }
    void TearDown() override {
        if (screen && screen->camera) {
            screen->camera->stopCapture();
            screen->camera->removeAllTargets();
        }
        if (screen) {
            flush(*screen->sessionQueue);
            screen->sessionQueue->sync([s = screen] { s->removeObservers(); });
        }
        // Frames already on their way may still wait for the main queue.
        runMainUntil([] { return false; }, std::chrono::milliseconds(50));
        // Their GPU work may still be running: let it end with the test, or the process
        // may exit while the GL driver is in the middle of it (and crash in its exit
        // handlers).
        if (hasGPUContext_) GPUContext::shared().runSync([] {});
        AVCaptureDevice::setDefaultDeviceFactory(nullptr);
    }

    // How the simulated camera is opened: by default as the application opens it, which
    // includes following the machine's thermal state.
    virtual CaptureDeviceOptions deviceOptions() const { return CaptureDeviceOptions{}; }

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
        for (auto& line : printed.lines()) {
            const bool frameLine = (line.rfind("found ", 0) == 0 && line.ends_with(" bounding boxes")) ||
                                   line.rfind("dropping frame ", 0) == 0;
            if (!frameLine) out.push_back(line);
        }
        return out;
    }

    // Stops the camera's own automatic exposure and focus from changing the device, so
    // that every change a test sees is one it made (the lens keeps its position). Call
    // on the main thread.
    void holdDeviceStill() {
        withDeviceLock(*device, [&] {
            device->setExposureMode(AVCaptureExposureMode::locked);
            device->setFocusMode(AVCaptureFocusMode::locked);
        });
        DispatchQueue::main().drain(); // the refreshes those changes queued
    }

    PrintCapture printed;
    std::shared_ptr<SimulatedCaptureDevice> device;
    std::shared_ptr<CameraViewController> screen;

private:
    bool hasGPUContext_ = false;
};

// The screen on a camera that ignores the machine's temperature: no pressure report
// reaches the device unless the test makes it.
class IsolatedScreenFixture : public ScreenFixture {
protected:
    CaptureDeviceOptions deviceOptions() const override {
        CaptureDeviceOptions options;
        options.followThermalPressure = false;
        return options;
    }
};
