#pragma once
// Merging a box into a list of boxes that do not intersect one another:
// the new box R absorbs, walk after walk, every box of the list that it intersects
// (growing to the union each time, so later boxes of a walk meet the grown R), until a
// walk absorbs nothing; the untouched boxes keep their order and R goes last.
// Intersection follows CGRectIntersectsRect: boxes that only touch stay apart.
#include <vector>

#include "media/CGGeometry.h"

void mergeBoxInPlace(CGRect box, std::vector<CGRect>& boxes);
