#pragma once
// The screen the window fills, in points: a phone-sized portrait screen. Every part that
// needs the screen's size before a window exists (the window itself, the interface
// description, the host's hit-testing and snapshots) asks here.
#include "media/CGGeometry.h"

struct UIScreen {
    static constexpr double width = 390, height = 844;
    static CGRect mainBounds() { return CGRectMake(0, 0, width, height); }
};
