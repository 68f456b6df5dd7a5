#pragma once
// Points, sizes and rectangles in double precision, with the affine transforms the
// overlay uses.
//
// The rule for touching rectangles, used everywhere: two rectangles intersect only when
// they overlap in an area greater than zero. Rectangles that merely share an edge or a
// corner do NOT intersect (CGRectIntersectsRect is false and CGRectIntersection is null).
// So the 20 x 20 squares of two bright pixels exactly 20 columns apart stay separate.
// Rectangles with a negative size are standardised first; an empty rectangle (zero width
// or height) intersects nothing.

struct CGPoint {
    double x = 0, y = 0;
    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};
struct CGSize {
    double width = 0, height = 0;
    friend bool operator==(const CGSize&, const CGSize&) = default;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
    friend bool operator==(const CGRect&, const CGRect&) = default;
};

inline CGRect CGRectMake(double x, double y, double width, double height) {
    return CGRect{{x, y}, {width, height}};
}
CGRect CGRectStandardize(CGRect r);
double CGRectGetMinX(CGRect r);
double CGRectGetMinY(CGRect r);
double CGRectGetMaxX(CGRect r);
double CGRectGetMaxY(CGRect r);
bool CGRectIsEmpty(CGRect r);
bool CGRectIsNull(CGRect r);
bool CGRectEqualToRect(CGRect a, CGRect b);
bool CGRectIntersectsRect(CGRect a, CGRect b);
bool CGRectContainsPoint(CGRect r, CGPoint p);
// The overlap of a and b; CGRectNull when they do not intersect (see the rule above).
CGRect CGRectIntersection(CGRect a, CGRect b);
// The smallest rectangle holding both; a null rectangle contributes nothing.
CGRect CGRectUnion(CGRect a, CGRect b);
extern const CGRect CGRectNull;

// x' = a x + c y + tx, y' = b x + d y + ty
struct CGAffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};
inline constexpr CGAffineTransform CGAffineTransformIdentity{};
CGAffineTransform CGAffineTransformMakeScale(double sx, double sy);
CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty);
// Applies t1, then t2.
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);
// Scales the transform's input space: the scale applies before t.
CGAffineTransform CGAffineTransformScale(CGAffineTransform t, double sx, double sy);
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t);
// The bounding box of the transformed rectangle.
CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t);
