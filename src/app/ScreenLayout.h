#pragma once
// The camera screen's layout for every window from `minimumScreenSize` up: the picture as
// large as the window allows, with the filter name, the readouts, the control groups, the
// assists' buttons and the shutter in a panel at its right (landscape) or in two columns
// under it (portrait). A short window gets the compact rows; nothing overlaps and
// nothing leaves the window.
#include "media/CGGeometry.h"

class CameraViewController;
class UIButton;
class UILabel;
class UIView;

// The smallest window the panel fits in at its compact size.
inline constexpr CGSize minimumScreenSize{640, 480};

// The screen's views that are not the controller's outlets.
struct ScreenExtras {
    UILabel* luminosityCaption = nullptr;
    UIButton* shutter = nullptr;
    UIButton* photoFolder = nullptr;
    UIButton* cameraPanelButton = nullptr;
    UIView* cameraPanel = nullptr; // over the picture's left side while shown
    UIButton* record = nullptr;
    UIButton* output = nullptr; // under the photo folder's button, in a run with an output
};

void layoutCameraScreen(CameraViewController& controller, const ScreenExtras& extras, CGSize size);
