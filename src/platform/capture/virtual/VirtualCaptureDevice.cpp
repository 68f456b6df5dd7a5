#include "capture/virtual/VirtualCaptureDevice.h"

#include "capture/virtual/VirtualScene.h"

VirtualCaptureDevice::VirtualCaptureDevice(PictureSize size)
    : SimulatedCaptureDevice("Virtual Camera", std::make_unique<VirtualScene>(size), size) {
    offerSensorControls();
}

VirtualCaptureDevice::~VirtualCaptureDevice() {
    shutDown();
}
