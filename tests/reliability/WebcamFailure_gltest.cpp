// A webcam that breaks down while the application runs (unplugged, its driver gone): the
// whole application, headless, on a fake camera behind the V4L2 seam. The run must end by
// itself with status 1 and the device's reason on standard error, without hanging, and no
// frame may be taken from the camera after it failed.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "capture/V4L2CaptureDevice.h"
#include "host/HeadlessHost.h"
#include "pipeline/GPUContext.h"
#include "platform/capture/FakeV4L2Camera.h"
#include "ui/UIApplication.h"

using namespace capturetest;

namespace {

TEST(WebcamFaults, AWebcamThatFailsMidStreamEndsTheRunWithStatusOne) {
    NSError gpuError;
    if (!GPUContext::initialize(&gpuError))
        GTEST_SKIP() << "no OpenGL ES context: " << gpuError.localizedDescription();

    auto camera = uvcWebcam();
    camera->framesPerSecond = 30;
    camera->failAfterFrames = 12;

    host::HostConfiguration configuration;
    configuration.options.camera = "/dev/video7";
    configuration.options.headless = true;
    // A run that missed the failure would end here, with status 0, instead of hanging.
    configuration.options.seconds = 30;
    configuration.endsProcess = false;
    auto opened = configuration.device;
    std::shared_ptr<V4L2CaptureDevice> webcam;
    // Opened as the program opens a webcam, through the default device factory, with its
    // failures reported to the host.
    AVCaptureDevice::setDefaultDeviceFactory(
        [&](AVCaptureDevicePosition, NSError* error) -> std::shared_ptr<AVCaptureDevice> {
            webcam = V4L2CaptureDevice::open(std::make_unique<FakeV4L2Io>(camera), "/dev/video7", error);
            if (webcam) {
                webcam->setFailureHandler([opened](const NSError&) { opened->reportFailure(); });
                opened->set(webcam);
            }
            return webcam;
        });
    UISetApplicationHost(std::make_shared<host::HeadlessHost>(configuration));

    char name[] = "fernhold";
    char* argv[] = {name, nullptr};
    testing::internal::CaptureStderr();
    const int status = UIApplicationMain(1, argv, nullptr, NSStringFromClass<AppDelegate>());
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(status, 1) << err;
    ASSERT_TRUE(webcam);
    EXPECT_TRUE(webcam->hasFailed());
    EXPECT_FALSE(webcam->isStreaming());
    EXPECT_EQ(camera->locked([](FakeCamera& c) { return c.framesRead; }), 12);
    EXPECT_NE(err.find("/dev/video7"), std::string::npos) << err;
    EXPECT_NE(err.find("No such device"), std::string::npos) << err;
    // GPU work for the last frames ends with the test, not during the process's exit.
    GPUContext::shared().runSync([] {});
    AVCaptureDevice::setDefaultDeviceFactory(nullptr);
}

} // namespace
