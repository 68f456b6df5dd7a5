// Bright regions: the boxes around pixels brighter than three quarters of the frame's
// maximum, merged until no two touch, and their yellow outline over the picture.
#include <algorithm>

#include "analysis/BoxMerge.h"
#include "analysis/Luminosity.h"
#include "camera/CameraViewController.h"
#include "foundation/Print.h"

namespace {
constexpr double boxRadius = 10;
constexpr double thresholdFraction = 0.75;
} // namespace

std::shared_ptr<LineGenerator> CameraViewController::lineGenerator() {
    // Normally made on the main thread by the first pipeline configuration; call_once
    // keeps it single should the capture thread get here first.
    std::call_once(lineGeneratorOnce_, [this] {
        auto generator = std::make_shared<LineGenerator>(fbSize);
        generator->setLineWidth(3.0f);
        generator->setLineColor(Color{255.0f, 255.0f, 0.0f, 1.0f});
        lineGenerator_ = std::move(generator);
    });
    return lineGenerator_;
}

std::vector<CGRect> CameraViewController::mergeBox(CGRect box, std::vector<CGRect> boxes) {
    mergeBoxInPlace(box, boxes);
    return boxes;
}

std::vector<CGRect> CameraViewController::findBrightBoxes(const CGImageRef& image, double maxLuminosity) {
    std::vector<CGRect> boxes;
    CFDataRef data = CGDataProviderCopyData(CGImageGetDataProvider(image));
    const uint8_t* bytes = CFDataGetBytePtr(data);
    BitmapLayout layout{CGImageGetWidth(image), CGImageGetHeight(image), CGImageGetBitsPerPixel(image) / 8,
                        CGImageGetBytesPerRow(image), CFDataGetLength(data)};
    if (!bytes || !layout.fits(CFDataGetLength(data)))
        return boxes;

    const float threshold = float(maxLuminosity * thresholdFraction);
    const double width = double(layout.width), height = double(layout.height);
    const CGRect bounds = CGRectMake(0, 0, width, height);
    forEachBrightPixel(bytes, layout, threshold, [&](size_t column, size_t row) {
        // In a bright area most squares lie inside the box made last, which then stays
        // as it is (the merge's own first case); checked here without building the square.
        double x0 = std::max(double(column) - boxRadius, 0.0),
               x1 = std::min(double(column) + boxRadius, width);
        double y0 = std::max(double(row) - boxRadius, 0.0), y1 = std::min(double(row) + boxRadius, height);
        if (!boxes.empty() && mergedBoxHolds(boxes.back(), x0, y0, x1, y1))
            return;
        CGRect square =
            CGRectMake(double(column) - boxRadius, double(row) - boxRadius, 2 * boxRadius, 2 * boxRadius);
        mergeBoxInPlace(CGRectIntersection(square, bounds), boxes);
    });
    return boxes;
}

std::vector<Line> CameraViewController::outlineSegments(const std::vector<CGRect>& boxes) const {
    // Pixel column x maps to x * 2 / width - 1 and row y to y * 2 / height - 1: the line
    // generator's normalised space, with (-1, -1) at the bitmap's first pixel.
    const double scaleX = double(2.0f / fbSize.width);
    const double scaleY = double(2.0f / fbSize.height);
    const CGAffineTransform toNormalised = CGAffineTransformConcat(CGAffineTransformMakeScale(scaleX, scaleY),
                                                                   CGAffineTransformMakeTranslation(-1, -1));

    std::vector<Line> lines;
    lines.reserve(boxes.size() * 4);
    for (const CGRect& box : boxes) {
        CGRect mapped = CGRectApplyAffineTransform(box, toNormalised);
        float x0 = float(mapped.origin.x), y0 = float(mapped.origin.y);
        float w = float(mapped.size.width), h = float(mapped.size.height);
        float x1 = x0 + w, y1 = y0 + h;
        Position p1(x0, y0), p2(x1, y0), p3(x0, y1), p4(x1, y1);
        lines.push_back(Line::segment(p1, p2));
        lines.push_back(Line::segment(p2, p4));
        lines.push_back(Line::segment(p4, p3));
        lines.push_back(Line::segment(p3, p1));
    }
    return lines;
}

// Capture thread, inside the frame callback.
void CameraViewController::drawBrightRegions(const CGImageRef& image, double maxLuminosity) {
    std::vector<CGRect> boxes = findBrightBoxes(image, maxLuminosity);
    print("found ", boxes.size(), " bounding boxes");
    // Every call replaces the generator's earlier lines, so an empty list clears them.
    lineGenerator()->renderLines(outlineSegments(boxes));
}
