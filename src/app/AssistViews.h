#pragma once
// The exposure and focus assists' part of the interface description: the histogram and
// waveform panels over the picture's lower corners, and a row of buttons below the
// control groups, shown and hidden with them.
#include "media/CGGeometry.h"

class CameraViewController;
class UIView;

void addAssistViews(CameraViewController& controller, UIView& root, CGRect picture, CGRect buttonRow);
