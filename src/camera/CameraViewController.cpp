// The controller's state and construction, its fixed orientation, the outlet collection
// and the segment enumeration.
#include "camera/CameraViewController.h"

#include "foundation/Format.h"
#include "ui/UIApplication.h"

namespace {
std::vector<CarouselItem> makeCarousel() {
    using ItemType = CarouselItem::ItemType;
    return {
        CarouselItem("Normal", ItemType::none),
        CarouselItem("Canny Edge Detector", ItemType::cannyEdge),
        CarouselItem("Sobel Edge Detector", ItemType::sobelEdge),
        CarouselItem("Color Inversion", ItemType::colorInvert),
        CarouselItem("False Color", ItemType::falseColor),
        CarouselItem("Just Luminance", ItemType::luminance),
    };
}
} // namespace

// Both initialisers set every field to the same initial value through the member
// initialisers above and here; nothing else happens at construction.
CameraViewController::CameraViewController(const std::optional<std::string>&, const NSBundle*)
    : sessionQueue(std::make_shared<DispatchQueue>("session")), fbSize(sharedFramebufferSize()),
      blendFilter(std::make_shared<AlphaBlend>()), filterCarousel(makeCarousel()) {}

CameraViewController::CameraViewController(const NSCoder&) : CameraViewController(std::nullopt, nullptr) {}

CameraViewController::~CameraViewController() = default;

std::optional<CameraViewController::focusModeControlSegment>
CameraViewController::makeSegment(long rawValue) {
    if (rawValue < 0 || rawValue > 3)
        return std::nullopt;
    return focusModeControlSegment(rawValue);
}

std::ostream& operator<<(std::ostream& out, CameraViewController::focusModeControlSegment segment) {
    using S = CameraViewController::focusModeControlSegment;
    switch (segment) {
    case S::locked:
        return out << "locked";
    case S::manual:
        return out << "manual";
    case S::auto_:
        return out << "auto";
    case S::continuous:
        return out << "continuous";
    }
    return out << int(segment);
}

std::optional<std::vector<std::shared_ptr<UITapGestureRecognizer>>>
CameraViewController::tapGestureRecognizers() const {
    return tapGestureRecognizers_; // a copy, or nothing
}

void CameraViewController::setTapGestureRecognizers(
    std::optional<std::vector<std::shared_ptr<UITapGestureRecognizer>>> recognizers) {
    tapGestureRecognizers_ = std::move(recognizers);
}

bool CameraViewController::shouldAutorotate() const {
    return false;
}

UIInterfaceOrientationMask CameraViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMask::portrait;
}

std::shared_ptr<CameraViewController> CameraViewController::strongSelf() {
    return std::static_pointer_cast<CameraViewController>(shared_from_this());
}

std::shared_ptr<AVCaptureDevice> CameraViewController::inputCamera() const {
    return camera ? camera->inputCamera() : nullptr;
}

std::shared_ptr<ImageConsumer> CameraViewController::renderViewConsumer() const {
    return std::dynamic_pointer_cast<ImageConsumer>(renderView->shared_from_this());
}

std::optional<UIViewController::FrameStatistics> CameraViewController::frameStatistics() const {
    const CameraStatistics camera = this->camera ? this->camera->statistics() : CameraStatistics{};
    return FrameStatistics{camera.produced,  framesAnalysed_.load(), framesNotAnalysedByFilter_.load(),
                           dropCount.load(), camera.droppedGpuBusy,  camera.processed};
}

std::optional<std::string> CameraViewController::inspectValueForKey(const std::string& key) const {
    if (key == "hideControls")
        return std::string(boolText(hideControls));
    if (key == "selectedFilterIndex")
        return std::to_string(selectedFilterIndex.load());
    if (key == "scopes" && !latestScopesJson_.empty())
        return latestScopesJson_;
    return std::nullopt;
}
