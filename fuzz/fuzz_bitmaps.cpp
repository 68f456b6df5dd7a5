// Bitmaps of any shape through the frame analysis: the layout check, the luminosity
// meter and the bright-box search. A frame's geometry comes from a device or a decoder we
// do not control, so no width, height, pixel size or row stride may make the scans read
// outside the pixels (ASan reports that) or return something inconsistent (the checks
// below abort).
//
// Input: a 12-byte header, then pixel bytes.
//   0      what to run: bit 0 the arbitrary-layout arithmetic, bit 1 pad the pixels to
//          the layout's length (so the scans run rather than being refused)
//   1-2    width  (0...256)       3-4  height (0...256)
//   5      bits per pixel (0...255)
//   6-7    bytes per row (0...2047)
//   8      the maximum luminosity handed to the box search (some special values)
//   9-11   spare bits that scale the layout arithmetic's values up to 2^64
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "analysis/Luminosity.h"
#include "camera/CameraViewController.h"
#include "foundation/NSCoder.h"
#include "foundation/Print.h"
#include "media/CGImage.h"
#include "media/CVPixelBuffer.h"
#include "media/CoreImage.h"
#include "ui/UIImage.h"

namespace {

[[noreturn]] void broken(const char* what) {
    // stderr: libFuzzer's own report follows this line.
    std::fprintf(stderr, "fuzz_bitmaps: %s\n", what);
    std::abort();
}

CameraViewController& controller() {
    static const std::shared_ptr<CameraViewController> instance = [] {
        // The analysis prints diagnostic lines; millions of them would only slow the run.
        foundation::setPrintSink([](std::string_view) {});
        return std::make_shared<CameraViewController>(NSCoder("fuzz"));
    }();
    return *instance;
}

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t word() { return uint16_t(byte() | (byte() << 8)); }
};

double luminosityFrom(uint8_t code) {
    switch (code) {
    case 0:
        return std::numeric_limits<double>::quiet_NaN();
    case 1:
        return -1;
    case 2:
        return std::numeric_limits<double>::infinity();
    case 3:
        return -std::numeric_limits<double>::infinity();
    case 4:
        return 1e300;
    default:
        return double(code); // 5...255 covers the meter's whole range
    }
}

// The layout arithmetic with exact (128-bit) sums: whether every pixel of every row has
// its R, G and B bytes inside `length`.
bool reallyFits(const BitmapLayout& layout, size_t length) {
    if (layout.width == 0 || layout.height == 0)
        return true;
    if (layout.bytesPerPixel < 3)
        return false;
    // Each product fits in 128 bits; their sum might not, so each is checked first.
    __extension__ typedef unsigned __int128 Wide;
    const Wide rows = Wide(layout.height - 1) * layout.bytesPerRow;
    const Wide lastRow = Wide(layout.width - 1) * layout.bytesPerPixel + 3;
    return rows <= length && lastRow <= length && rows + lastRow <= length;
}

// Values up to 2^64 built from a small field and a shift, so the overflow edges are hit.
size_t scaled(uint16_t value, uint8_t shiftBits) {
    unsigned shift = shiftBits % 64;
    if (shiftBits & 0x40)
        return SIZE_MAX - value; // just below the top
    return shift >= 16 ? (size_t(value) << (shift - 16)) | value : value;
}

void checkLayoutArithmetic(Reader& in) {
    BitmapLayout layout;
    const uint8_t shifts[4] = {in.byte(), in.byte(), in.byte(), in.byte()};
    layout.width = scaled(in.word(), shifts[0]);
    layout.height = scaled(in.word(), shifts[1]);
    layout.bytesPerPixel = scaled(in.word(), shifts[2]);
    layout.bytesPerRow = scaled(in.word(), shifts[3]);
    // Lengths of real buffers: up to 2^48 bytes.
    size_t length = (size_t(in.word()) << 32 | size_t(in.word()) << 16 | in.word()) & ((size_t(1) << 48) - 1);
    const bool claimed = layout.fits(length);
    const bool truth = reallyFits(layout, length);
    if (claimed && !truth)
        broken("BitmapLayout::fits accepts a layout that reads past the data");
    // Refusing a layout that does fit only matters for sizes a frame can have.
    const size_t real = size_t(1) << 32;
    if (!claimed && truth && layout.width < real && layout.height < real && layout.bytesPerPixel < real &&
        layout.bytesPerRow < real)
        broken("BitmapLayout::fits refuses a layout that fits");
}

void checkBoxes(const std::vector<CGRect>& boxes, const uint8_t* bytes, const BitmapLayout& layout,
                double maxLuminosity) {
    if (layout.width == 0 || layout.height == 0) {
        if (!boxes.empty())
            broken("bright boxes in a bitmap without pixels");
        return;
    }
    const CGRect bounds = CGRectMake(0, 0, double(layout.width), double(layout.height));
    for (size_t i = 0; i < boxes.size(); ++i) {
        const CGRect& box = boxes[i];
        if (CGRectIsEmpty(box))
            broken("an empty bright box");
        if (CGRectGetMinX(box) < 0 || CGRectGetMinY(box) < 0 || CGRectGetMaxX(box) > bounds.size.width ||
            CGRectGetMaxY(box) > bounds.size.height)
            broken("a bright box outside the bitmap");
        for (size_t j = i + 1; j < boxes.size(); ++j)
            if (CGRectIntersectsRect(box, boxes[j]))
                broken("two bright boxes overlap after merging");
    }
    // Every pixel above the threshold lies in a box.
    const float threshold = float(maxLuminosity * 0.75);
    for (size_t row = 0; row < layout.height; ++row) {
        const uint8_t* pixel = bytes + row * layout.bytesPerRow;
        for (size_t column = 0; column < layout.width; ++column, pixel += layout.bytesPerPixel) {
            if (!(pixelLuminosity(pixel) > threshold))
                continue;
            const CGPoint centre{double(column), double(row)};
            bool covered = false;
            for (const CGRect& box : boxes)
                if (CGRectContainsPoint(box, centre)) {
                    covered = true;
                    break;
                }
            if (!covered)
                broken("a bright pixel outside every box");
        }
    }
}

// Any layout straight into the box search, as a CGImage with these numbers would reach it.
void searchArbitraryBitmap(const BitmapLayout& shape, size_t bitsPerPixel,
                           std::shared_ptr<const std::vector<uint8_t>> bytes, double maxLuminosity) {
    CGImageRef image = CGImageCreate(shape.width, shape.height, bitsPerPixel, shape.bytesPerRow, bytes);
    std::vector<CGRect> boxes = controller().findBrightBoxes(image, maxLuminosity);
    if (!shape.fits(bytes->size())) {
        if (!boxes.empty())
            broken("boxes found in a bitmap whose layout does not fit its data");
        return;
    }
    checkBoxes(boxes, bytes->data(), shape, maxLuminosity);
    (void)controller().outlineSegments(boxes);
}

// A frame as the camera hands it over: RGBA rows of `bytesPerRow` bytes, measured by the
// meter, whose region handler gets the bitmap and searches it.
void meterFrame(size_t width, size_t height, size_t bytesPerRow, std::vector<uint8_t> pixels) {
    // The buffer's own rule: storage for every row.
    if (pixels.size() < bytesPerRow * height)
        pixels.resize(bytesPerRow * height, 0x80);
    // A copy has no spare capacity, so ASan sees a read one byte past the pixels.
    auto storage = std::make_shared<const std::vector<uint8_t>>(pixels.begin(), pixels.end());
    auto buffer = std::make_shared<CVPixelBuffer>(int(width), int(height), bytesPerRow, storage);
    UIImage image(std::make_shared<const CIImage>(buffer), 1.0, UIImageOrientation::right);

    bool handlerCalled = false;
    double handed = -1;
    auto& camera = controller();
    std::optional<float> maximum =
        camera.measureLuminosity(image, [&](const CGImageRef& bitmap, double maxLuminosity) {
            handlerCalled = true;
            handed = maxLuminosity;
            std::vector<CGRect> boxes = camera.findBrightBoxes(bitmap, maxLuminosity);
            CFDataRef data = CGDataProviderCopyData(CGImageGetDataProvider(bitmap));
            BitmapLayout layout{CGImageGetWidth(bitmap), CGImageGetHeight(bitmap),
                                CGImageGetBitsPerPixel(bitmap) / 8, CGImageGetBytesPerRow(bitmap)};
            if (CFDataGetBytePtr(data) && layout.fits(CFDataGetLength(data)))
                checkBoxes(boxes, CFDataGetBytePtr(data), layout, maxLuminosity);
        });

    if (width == 0 || height == 0) {
        if (maximum || handlerCalled)
            broken("an empty frame was measured");
        return;
    }
    if (!maximum || !handlerCalled)
        broken("a frame with pixels was not measured");
    if (double(*maximum) != handed)
        broken("the region handler got another maximum than the meter returned");
    // The banded, parallel scan must agree with one plain scan of the whole frame; a
    // frame whose rows do not fit its storage reads as dark.
    // The bitmap of a whole frame covers its rows, bytesPerRow × height bytes.
    BitmapLayout layout{width, height, 4, bytesPerRow};
    const float expected =
        layout.fits(bytesPerRow * height) ? maxLuminosityOfRows(storage->data(), layout, 0, height) : 0.0f;
    if (*maximum != expected)
        broken("the banded luminosity differs from a plain scan");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const uint8_t mode = in.byte();
    if (mode & 1) {
        checkLayoutArithmetic(in);
        return 0;
    }
    const size_t width = in.word() % 257, height = in.word() % 257;
    const size_t bitsPerPixel = in.byte();
    const size_t bytesPerRow = in.word() % 2048;
    const double maxLuminosity = luminosityFrom(in.byte());
    in.at = std::min(size, size_t(12));

    std::vector<uint8_t> pixels(data + in.at, data + size);
    BitmapLayout shape{width, height, bitsPerPixel / 8, bytesPerRow};
    if ((mode & 2) && shape.bytesPerPixel >= 3 && width > 0 && height > 0) {
        // Repeat the given bytes out to the layout's full length so the scans really run.
        const size_t wanted = (height - 1) * bytesPerRow + (width - 1) * shape.bytesPerPixel + 3;
        const size_t given = pixels.size();
        pixels.resize(wanted);
        for (size_t i = given; i < wanted; ++i)
            pixels[i] = given ? pixels[i % given] : uint8_t(i * 37);
    }
    searchArbitraryBitmap(shape, bitsPerPixel, std::make_shared<const std::vector<uint8_t>>(pixels),
                          maxLuminosity);
    meterFrame(width, height, bytesPerRow, std::move(pixels));
    return 0;
}
