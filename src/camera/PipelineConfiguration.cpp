// The filter carousel: the swipes that step through it and the configuration that turns
// the selected entry into a processing graph.
#include "camera/CameraViewController.h"
#include "foundation/Print.h"

void CameraViewController::swipeLeft(UIGestureRecognizer&) {
    print("swipe left");
    pendingFilterStep_ = -1;
    configurePipeline();
}

void CameraViewController::swipeRight(UIGestureRecognizer&) {
    print("swipe right");
    pendingFilterStep_ = +1;
    configurePipeline();
}

void CameraViewController::configurePipeline() {
    // The swipe's step and the wrap are one store: the capture thread reads the index
    // without a lock and must never see -1 or 6.
    const int64_t count = int64_t(filterCarousel.size());
    int64_t index = selectedFilterIndex.load() + pendingFilterStep_;
    pendingFilterStep_ = 0;
    if (index >= count)
        index = 0;
    else if (index < 0)
        index = count - 1;
    selectedFilterIndex.store(index);
    const CarouselItem& item = filterCarousel[size_t(index)];

    if (alreadyCapturing) {
        sessionQueue->sync([this] { removeObservers(); });
        camera->removeAllTargets();
    } else {
        NSError error;
        auto newCamera = Camera::make(AVCaptureSessionPreset640x480, nullptr,
                                      PhysicalCameraLocation::backFacing, std::nullopt, false, &error);
        if (!newCamera)
            foundation::fatalError("Could not initialize rendering pipeline: " +
                                   error.localizedDescription());
        camera = newCamera;
        camera->setDelegate(std::static_pointer_cast<CameraDelegate>(strongSelf()));
    }

    filterNameLabel->setText(item.name);
    luminosityLabel->setText("");
    renderView->reset();

    using ItemType = CarouselItem::ItemType;
    std::shared_ptr<ImageSource> source = camera;
    std::shared_ptr<BasicOperation> operation;
    switch (item.ftype) {
    case ItemType::none:
        print("configuring for normal operation");
        assistedCameraOutput() >> blendFilter;
        std::static_pointer_cast<ImageSource>(blendFilter) >> renderViewConsumer();
        std::static_pointer_cast<ImageSource>(lineGenerator()) >> blendFilter;
        break;
    case ItemType::cannyEdge:
        print("configuring for Canny Edge");
        operation = std::make_shared<CannyEdgeDetection>();
        break;
    case ItemType::sobelEdge:
        print("configuring for Sobel Edge");
        operation = std::make_shared<SobelEdgeDetection>();
        break;
    case ItemType::colorInvert:
        print("configuring for color inversion filter");
        operation = std::make_shared<ColorInversion>();
        break;
    case ItemType::falseColor:
        print("configuring for false color filter");
        operation = std::make_shared<FalseColor>();
        break;
    case ItemType::luminance:
        print("configuring for luminance filter");
        operation = std::make_shared<Luminance>();
        break;
    }
    // Only the graph's connections hold the operation once this returns.
    if (operation)
        (source >> operation) >> renderViewConsumer();

    camera->startCapture();
    alreadyCapturing = true;
    sessionQueue->async([self = strongSelf()] { self->addObservers(); });
}
