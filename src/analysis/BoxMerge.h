#pragma once
// Merging a box into a list of boxes that do not intersect one another:
// the new box R absorbs, walk after walk, every box of the list that it intersects
// (growing to the union each time, so later boxes of a walk meet the grown R), until a
// walk absorbs nothing; the untouched boxes keep their order and R goes last.
// Intersection follows CGRectIntersectsRect: boxes that only touch stay apart.
#include <vector>

#include "media/CGGeometry.h"

void mergeBoxInPlace(CGRect box, std::vector<CGRect>& boxes);

// Whether the box made by a merge (standard: non-negative size) holds the rectangle from
// (x0, y0) to (x1, y1). Merging such a rectangle leaves a list that ends in `box` as it is.
inline bool mergedBoxHolds(const CGRect& box, double x0, double y0, double x1, double y1) {
    return x0 >= box.origin.x && x1 <= box.origin.x + box.size.width && y0 >= box.origin.y &&
           y1 <= box.origin.y + box.size.height;
}
