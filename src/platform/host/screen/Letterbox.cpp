#include "host/screen/Letterbox.h"

#include <algorithm>

namespace host {

Letterbox Letterbox::fit(CGSize root, double surfaceWidth, double surfaceHeight) {
    Letterbox box;
    if (root.width <= 0 || root.height <= 0 || surfaceWidth <= 0 || surfaceHeight <= 0)
        return box;
    box.scale = std::min(surfaceWidth / root.width, surfaceHeight / root.height);
    box.offsetX = (surfaceWidth - root.width * box.scale) / 2;
    box.offsetY = (surfaceHeight - root.height * box.scale) / 2;
    return box;
}

CGPoint Letterbox::toRoot(CGPoint surface) const {
    return {(surface.x - offsetX) / scale, (surface.y - offsetY) / scale};
}

CGPoint Letterbox::toSurface(CGPoint root) const {
    return {root.x * scale + offsetX, root.y * scale + offsetY};
}

} // namespace host
