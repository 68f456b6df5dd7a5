#include "capture/virtual/VirtualCaptureDevice.h"

#include "capture/virtual/VirtualScene.h"

VirtualCaptureDevice::VirtualCaptureDevice()
    : SimulatedCaptureDevice("Virtual Camera", std::make_unique<VirtualScene>()) {}

VirtualCaptureDevice::~VirtualCaptureDevice() {
    shutDown();
}
