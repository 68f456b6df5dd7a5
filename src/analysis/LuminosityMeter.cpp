// The luminosity meter: a frame's largest pixel luminosity, scanned in 8 parallel bands.
#include "analysis/Luminosity.h"
#include "camera/CameraViewController.h"
#include "dispatch/ConcurrentPerform.h"
#include "dispatch/DispatchSemaphore.h"
#include "foundation/Print.h"

namespace {
constexpr size_t bandCount = 8;
}

std::optional<float> CameraViewController::measureLuminosity(const UIImage& image,
                                                             const RegionHandler& regionHandler) {
    CIImageRef ciImage = image.CIImage();
    if (!ciImage) {
        print("no ciimage??");
        return std::nullopt;
    }
    CIContext context;
    CGImageRef bitmap = context.createCGImage(ciImage, ciImage->extent());
    if (!bitmap) {
        print("no cgimage");
        return std::nullopt;
    }

    DispatchSemaphore semaphore(1);
    float maximum = 0.0f;

    CFDataRef data = CGDataProviderCopyData(CGImageGetDataProvider(bitmap));
    const uint8_t* bytes = CFDataGetBytePtr(data);
    BitmapLayout layout{CGImageGetWidth(bitmap), CGImageGetHeight(bitmap), CGImageGetBitsPerPixel(bitmap) / 8,
                        CGImageGetBytesPerRow(bitmap), CFDataGetLength(data)};
    // Data that is missing, or too short for the bitmap's rows, reads as a dark frame.
    if (bytes && layout.fits(CFDataGetLength(data))) {
        const size_t bandHeight = layout.height / bandCount;
        concurrentPerform(bandCount, [&](size_t band) {
            size_t first = band * bandHeight;
            // The last band also takes the rows below the last full band.
            size_t end = band + 1 == bandCount ? layout.height : first + bandHeight;
            float bandMaximum = maxLuminosityOfRows(bytes, layout, first, end);
            semaphore.wait();
            if (maximum < bandMaximum)
                maximum = bandMaximum;
            semaphore.signal();
        });
    }

    if (regionHandler)
        regionHandler(bitmap, double(maximum));
    return maximum;
}
