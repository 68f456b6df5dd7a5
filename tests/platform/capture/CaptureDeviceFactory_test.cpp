// Choosing the device from the host's source string, and the machine's thermal state
// reaching the device it opens.
#include <gtest/gtest.h>

#include <fstream>

#include "CaptureTestSupport.h"
#include "TempDirectory.h"
#include "capture/CaptureDeviceFactory.h"
#include "capture/CaptureError.h"

using namespace capturetest;

namespace {
CaptureDeviceOptions withoutThermal() {
    CaptureDeviceOptions options;
    options.followThermalPressure = false;
    return options;
}
} // namespace

TEST(CaptureDeviceFactory, SourcesChooseTheirDevices) {
    TempDirectory dir;
    NSError error;
    auto virtualCamera = openCaptureDevice("virtual", withoutThermal(), &error);
    ASSERT_TRUE(virtualCamera) << error.localizedDescription();
    EXPECT_EQ(virtualCamera->localizedName(), "Virtual Camera");

    // A still image by its extension, in any letter case: a missing one says so.
    for (const char* name : {"shot.PNG", "shot.Jpg", "shot.jpeg"}) {
        EXPECT_FALSE(openCaptureDevice(dir.file(name), withoutThermal(), &error));
        EXPECT_EQ(error.code(), int(CaptureErrorCode::unreadableFile)) << name;
    }

    EXPECT_FALSE(openCaptureDevice("/dev/video-absent", withoutThermal(), &error));
    EXPECT_EQ(error.code(), int(CaptureErrorCode::deviceUnavailable));
    EXPECT_NE(error.localizedDescription().find("/dev/video-absent"), std::string::npos);

    for (const char* source : {"webcam", "", "picture.gif", "/tmp/video0"}) {
        EXPECT_FALSE(openCaptureDevice(source, withoutThermal(), &error)) << source;
        EXPECT_EQ(error.code(), int(CaptureErrorCode::unknownSource));
        for (const char* accepted : {"\"virtual\"", ".png", ".jpg", ".jpeg", "/dev/video"})
            EXPECT_NE(error.localizedDescription().find(accepted), std::string::npos) << accepted;
    }
}

TEST(CaptureDeviceFactory, AHotMachineRaisesTheDevicesPressure) {
    TempDirectory dir;
    std::filesystem::create_directories(dir.path() / "thermal_zone0");
    auto put = [&](const char* file, const char* text) {
        std::ofstream(dir.path() / "thermal_zone0" / file) << text;
    };
    put("temp", "91000\n");
    put("trip_point_0_type", "passive\n");
    put("trip_point_0_temp", "90000\n");

    CaptureDeviceOptions options;
    options.thermalRoot = dir.path().string();
    NSError error;
    auto device = openCaptureDevice("virtual", options, &error);
    ASSERT_TRUE(device) << error.localizedDescription();
    ChangeRecorder<AVCaptureSystemPressureState> pressure(device->systemPressureStateProperty);
    ASSERT_TRUE(pressure.waitUntil([](auto& v) { return !v.empty(); }) ||
                device->systemPressureState().level == AVCaptureSystemPressureLevelSerious);
    EXPECT_EQ(device->systemPressureState().level, AVCaptureSystemPressureLevelSerious);
}
