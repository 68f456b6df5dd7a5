// The per-frame callback: which frames are analysed, the busy step on the main queue and
// the luminosity label.
#include "camera/CameraViewController.h"
#include "foundation/Format.h"
#include "foundation/Print.h"

namespace {
bool isAnalysed(CarouselItem::ItemType type) {
    return type == CarouselItem::ItemType::none || type == CarouselItem::ItemType::luminance;
}
} // namespace

// Capture thread. Blocks it for the whole analysis, overlay included.
void CameraViewController::didCaptureBuffer(const CMSampleBufferRef& sampleBuffer) {
    measureScopes(sampleBuffer); // the camera's picture, whatever the filter
    const CarouselItem& item = filterCarousel[size_t(selectedFilterIndex.load())];
    if (!isAnalysed(item.ftype)) {
        ++framesNotAnalysedByFilter_;
        return;
    }
    CVImageBufferRef pixelBuffer = CMSampleBufferGetImageBuffer(sampleBuffer);
    if (!pixelBuffer)
        return;

    CVPixelBufferLockBaseAddress(pixelBuffer, kCVPixelBufferLock_ReadOnly);
    auto ciImage = std::make_shared<const CIImage>(pixelBuffer);
    UIImage image(ciImage, 1.0, UIImageOrientation::right);
    CVPixelBufferUnlockBaseAddress(pixelBuffer, kCVPixelBufferLock_ReadOnly);

    // The busy step. An analysis that is still running (frames delivered from more than
    // one thread) makes this frame a drop; the flag is cleared when an analysis ends.
    bool analyse = false;
    DispatchQueue::main().sync([&] {
        if (!_isBusyProcessingCapture.load()) {
            _isBusyProcessingCapture.store(true);
            analyse = true;
        } else {
            print("dropping frame ", dropCount.load());
            ++dropCount;
        }
    });
    if (!analyse)
        return;
    struct ClearBusyFlag {
        std::atomic<bool>& flag;
        ~ClearBusyFlag() { flag.store(false); }
    } clearBusyFlag{_isBusyProcessingCapture};

    std::optional<float> maxLuminosity = measureLuminosity(
        image, [this](const CGImageRef& bitmap, double maximum) { drawBrightRegions(bitmap, maximum); });
    ++framesAnalysed_;
    if (!maxLuminosity)
        return;
    DispatchQueue::main().async(
        [self = strongSelf(), value = *maxLuminosity] { self->updateLuminosityLabel(value); });
}

// Main queue. The filter may have changed since the frame was measured.
void CameraViewController::updateLuminosityLabel(float maxLuminosity) {
    const CarouselItem& item = filterCarousel[size_t(selectedFilterIndex.load())];
    if (!isAnalysed(item.ftype))
        return;
    luminosityLabel->setText(stringWithFormat("%.0f", double(maxLuminosity)));
}
