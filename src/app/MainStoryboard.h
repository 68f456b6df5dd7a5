#pragma once
// The interface description of the camera screen: builds the controller (by its
// registered name, with initWithCoder), its view tree, outlets, actions and recognizers.
#include <memory>

class CameraViewController;

std::shared_ptr<CameraViewController> instantiateCameraScreen();
