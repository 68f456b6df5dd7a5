#pragma once
// The exposure and focus assists' part of the interface description: the histogram and
// waveform panels over the picture's lower corners, and a row of buttons (the
// `assistControlsView`, placed by the layout like the control groups, and shown and hidden
// with them).
#include "media/CGGeometry.h"

class CameraViewController;
class UIView;

void addAssistViews(CameraViewController& controller, UIView& root);
// The panels over the lower corners of the picture, wherever the layout put it.
void placeAssistPanels(CameraViewController& controller, CGRect picture);
