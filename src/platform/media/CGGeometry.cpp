#include "media/CGGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

const CGRect CGRectNull{{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()},
                        {0, 0}};

CGRect CGRectStandardize(CGRect r) {
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}
double CGRectGetMinX(CGRect r) {
    return CGRectStandardize(r).origin.x;
}
double CGRectGetMinY(CGRect r) {
    return CGRectStandardize(r).origin.y;
}
double CGRectGetMaxX(CGRect r) {
    r = CGRectStandardize(r);
    return r.origin.x + r.size.width;
}
double CGRectGetMaxY(CGRect r) {
    r = CGRectStandardize(r);
    return r.origin.y + r.size.height;
}
bool CGRectIsNull(CGRect r) {
    return std::isinf(r.origin.x) || std::isinf(r.origin.y);
}
bool CGRectIsEmpty(CGRect r) {
    return CGRectIsNull(r) || r.size.width == 0 || r.size.height == 0;
}
bool CGRectEqualToRect(CGRect a, CGRect b) {
    if (CGRectIsNull(a) || CGRectIsNull(b))
        return CGRectIsNull(a) && CGRectIsNull(b);
    return CGRectStandardize(a) == CGRectStandardize(b);
}

bool CGRectIntersectsRect(CGRect a, CGRect b) {
    if (CGRectIsEmpty(a) || CGRectIsEmpty(b))
        return false;
    return CGRectGetMinX(a) < CGRectGetMaxX(b) && CGRectGetMinX(b) < CGRectGetMaxX(a) &&
           CGRectGetMinY(a) < CGRectGetMaxY(b) && CGRectGetMinY(b) < CGRectGetMaxY(a);
}

bool CGRectContainsPoint(CGRect r, CGPoint p) {
    if (CGRectIsEmpty(r))
        return false;
    return p.x >= CGRectGetMinX(r) && p.x < CGRectGetMaxX(r) && p.y >= CGRectGetMinY(r) &&
           p.y < CGRectGetMaxY(r);
}

CGRect CGRectIntersection(CGRect a, CGRect b) {
    if (!CGRectIntersectsRect(a, b))
        return CGRectNull;
    double x0 = std::max(CGRectGetMinX(a), CGRectGetMinX(b));
    double y0 = std::max(CGRectGetMinY(a), CGRectGetMinY(b));
    double x1 = std::min(CGRectGetMaxX(a), CGRectGetMaxX(b));
    double y1 = std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

CGRect CGRectUnion(CGRect a, CGRect b) {
    if (CGRectIsNull(a))
        return CGRectStandardize(b);
    if (CGRectIsNull(b))
        return CGRectStandardize(a);
    double x0 = std::min(CGRectGetMinX(a), CGRectGetMinX(b));
    double y0 = std::min(CGRectGetMinY(a), CGRectGetMinY(b));
    double x1 = std::max(CGRectGetMaxX(a), CGRectGetMaxX(b));
    double y1 = std::max(CGRectGetMaxY(a), CGRectGetMaxY(b));
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

CGAffineTransform CGAffineTransformMakeScale(double sx, double sy) {
    return {sx, 0, 0, sy, 0, 0};
}
CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty) {
    return {1, 0, 0, 1, tx, ty};
}

CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2) {
    return {t1.a * t2.a + t1.b * t2.c,           t1.a * t2.b + t1.b * t2.d,
            t1.c * t2.a + t1.d * t2.c,           t1.c * t2.b + t1.d * t2.d,
            t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGAffineTransform CGAffineTransformScale(CGAffineTransform t, double sx, double sy) {
    return CGAffineTransformConcat(CGAffineTransformMakeScale(sx, sy), t);
}

CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t) {
    return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}

CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t) {
    if (CGRectIsNull(r))
        return r;
    r = CGRectStandardize(r);
    CGPoint corners[4] = {{r.origin.x, r.origin.y},
                          {r.origin.x + r.size.width, r.origin.y},
                          {r.origin.x, r.origin.y + r.size.height},
                          {r.origin.x + r.size.width, r.origin.y + r.size.height}};
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (auto c : corners) {
        CGPoint p = CGPointApplyAffineTransform(c, t);
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    }
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}
