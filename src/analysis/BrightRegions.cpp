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

// A box with the scan position (row × width + column) of the last bright pixel it holds.
// Merging square by square leaves the boxes in that order, the box that took the latest
// pixel last, so the order is kept by sorting on it.
struct Region {
    CGRect box;
    size_t last;
};

// CGRectIntersectsRect and CGRectUnion for boxes known to have an area, inlined: they
// are most of the merging.
bool meets(const CGRect& a, const CGRect& b) {
    return a.origin.x < b.origin.x + b.size.width && b.origin.x < a.origin.x + a.size.width &&
           a.origin.y < b.origin.y + b.size.height && b.origin.y < a.origin.y + a.size.height;
}
CGRect bounding(const CGRect& a, const CGRect& b) {
    const double x0 = std::min(a.origin.x, b.origin.x), y0 = std::min(a.origin.y, b.origin.y);
    const double x1 = std::max(a.origin.x + a.size.width, b.origin.x + b.size.width);
    const double y1 = std::max(a.origin.y + a.size.height, b.origin.y + b.size.height);
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

// The merge procedure of mergeBoxInPlace, for regions: the merged one keeps the later position.
void mergeRegion(Region region, std::vector<Region>& regions) {
    for (bool changed = true; changed;) {
        changed = false;
        size_t kept = 0;
        for (size_t i = 0; i < regions.size(); ++i)
            if (meets(region.box, regions[i].box))
                region = {bounding(region.box, regions[i].box), std::max(region.last, regions[i].last)},
                changed = true;
            else
                regions[kept++] = regions[i];
        regions.resize(kept);
    }
    regions.push_back(region);
}
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
    // The squares of a run of bright pixels in a row overlap one another, so the run stands
    // for them as one rectangle, merged at once with the regions the rows above left open.
    // Merging rectangles that meet gives the same boxes in whatever order it is done, so a
    // large picture's many bright areas cost a few regions each, not one merge per run
    // against every box. A region ending above a new row's squares is closed, and the closed
    // ones are merged with the rest at the end (a region that grew later may meet them).
    std::vector<Region> open, closed;
    size_t openRow = 0;
    std::vector<BrightRun> runs;
    findBrightRuns(bytes, layout, threshold, runs);
    for (const BrightRun& run : runs) {
        const size_t row = run.row, first = run.first, last = run.last;
        if (row != openRow) {
            auto ended = std::stable_partition(open.begin(), open.end(), [&](const Region& r) {
                return CGRectGetMaxY(r.box) > double(row) - boxRadius;
            });
            closed.insert(closed.end(), ended, open.end());
            open.erase(ended, open.end());
            openRow = row;
        }
        // The run's squares, together, cut to the picture.
        const double x0 = std::max(double(first) - boxRadius, 0.0),
                     y0 = std::max(double(row) - boxRadius, 0.0);
        const double x1 = std::min(double(last) + boxRadius, width),
                     y1 = std::min(double(row) + boxRadius, height);
        mergeRegion({CGRectMake(x0, y0, x1 - x0, y1 - y0), row * layout.width + last}, open);
    }
    std::vector<Region> regions;
    for (const auto* list : {&closed, &open})
        for (const Region& region : *list)
            mergeRegion(region, regions);
    std::sort(regions.begin(), regions.end(),
              [](const Region& a, const Region& b) { return a.last < b.last; });
    for (const Region& region : regions)
        boxes.push_back(region.box);
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
