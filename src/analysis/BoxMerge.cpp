#include "analysis/BoxMerge.h"

#include <algorithm>

// Boxes in the list have positive area and do not intersect, so no two are equal: removing
// "the first box equal to an absorbed one" removes exactly the absorbed element, which
// lets a walk compact the list in place instead of copying it.
void mergeBoxInPlace(CGRect box, std::vector<CGRect>& boxes) {
    // The common case in a bright area: the square lies inside the box made last. That
    // box absorbs it unchanged, and being last it stays where it is.
    if (!boxes.empty()) {
        const CGRect& last = boxes.back();
        if (mergedBoxHolds(last, CGRectGetMinX(box), CGRectGetMinY(box), CGRectGetMaxX(box),
                           CGRectGetMaxY(box)) &&
            CGRectIntersectsRect(box, last))
            return;
    }
    CGRect merged = box;
    bool changed = true;
    while (changed) {
        changed = false;
        size_t kept = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (CGRectIntersectsRect(merged, boxes[i])) {
                merged = CGRectUnion(merged, boxes[i]);
                changed = true;
            } else {
                boxes[kept++] = boxes[i];
            }
        }
        boxes.resize(kept);
    }
    boxes.push_back(merged);
}
