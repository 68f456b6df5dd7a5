#pragma once
// The camera screen as the application builds it, on a simulated camera, with the main
// queue run by the test. Tests that use it need an OpenGL ES context (label gl).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "app/MainStoryboard.h"
#include "camera/CameraViewController.h"
#include "capture/CaptureDeviceFactory.h"
#include "capture/SimulatedCaptureDevice.h"
#include "dispatch/DispatchQueue.h"
#include "pipeline/GPUContext.h"
#include "support/PrintCapture.h"

// Runs the main queue until `done()` or the deadline; returns done().
template <typename Pred> bool runMainUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = DispatchQueue::Clock::now() + limit;
    while (!done() && DispatchQueue::Clock::now() < deadline) {
        DispatchQueue::main().waitForWork(deadline);
        DispatchQueue::main().drain();
    }
    return done();
}

// Waits until everything queued on `queue` so far has run, keeping the main queue going
// (work on the session queue never waits for the main thread, but the device may).
inline void flush(DispatchQueue& queue) {
    std::atomic<bool> done{false};
    queue.async([&] { done = true; });
    runMainUntil([&] { return done.load(); });
}

class ScreenFixture : public testing::Test {
protected:
    void SetUp() override {
        NSError error;
        if (!GPUContext::initialize(&error)) GTEST_SKIP() << "no OpenGL ES context: " << error.localizedDescription();
        device = std::dynamic_pointer_cast<SimulatedCaptureDevice>(openCaptureDevice("virtual", &error));
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

    PrintCapture printed;
    std::shared_ptr<SimulatedCaptureDevice> device;
    std::shared_ptr<CameraViewController> screen;
};
