#pragma once
// Fitting the UI's root (the screen's points) into a surface of any size: the largest
// uniform scale that fits, centred, with bars on the two spare sides.
#include "media/CGGeometry.h"

namespace host {

struct Letterbox {
    double scale = 1;                // surface pixels per root point
    double offsetX = 0, offsetY = 0; // where the root's top-left corner lands, in surface pixels

    static Letterbox fit(CGSize root, double surfaceWidth, double surfaceHeight);
    CGPoint toRoot(CGPoint surface) const;
    CGPoint toSurface(CGPoint root) const;
};

} // namespace host
