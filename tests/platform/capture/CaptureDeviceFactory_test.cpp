// The machine's thermal state reaching the device the factory opens. (Which device a source
// string opens, and the errors for those it cannot, are CameraFaults' and CommandLine's.)
#include <gtest/gtest.h>

#include <fstream>

#include "CaptureTestSupport.h"
#include "TempDirectory.h"
#include "capture/CaptureDeviceFactory.h"

using namespace capturetest;

TEST(CaptureDeviceFactory, AHotMachineRaisesTheDevicesPressure) {
    TempDirectory dir;
    const auto zone = dir.path() / "thermal_zone0";
    std::filesystem::create_directories(zone);
    std::ofstream(zone / "temp") << "91000\n"; // a degree past its passive trip point
    std::ofstream(zone / "trip_point_0_type") << "passive\n";
    std::ofstream(zone / "trip_point_0_temp") << "90000\n";

    CaptureDeviceOptions options;
    options.thermalRoot = dir.path().string();
    NSError error;
    auto device = openCaptureDevice("virtual", options, &error);
    ASSERT_TRUE(device) << error.localizedDescription();
    ChangeRecorder<AVCaptureSystemPressureState> pressure(device->systemPressureStateProperty);
    ASSERT_TRUE(pressure.waitFor(1) ||
                device->systemPressureState().level == AVCaptureSystemPressureLevelSerious);
    EXPECT_EQ(device->systemPressureState().level, AVCaptureSystemPressureLevelSerious);
}
