// The screen's lifecycle: loading builds the pipeline and starts the camera, appearing
// arms the tap recognizers, disappearing removes the observations and stops capture.
#include "camera/CameraViewController.h"

void CameraViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    hideControls = true;
    focusControlsView->setHidden(true);
    exposureControlsView->setHidden(true);
    if (assistControlsView)
        assistControlsView->setHidden(true);
    configurePipeline();
    sessionQueue->async([self = strongSelf()] { self->configureInitialFocus(); });
    spinner = std::make_shared<UIActivityIndicatorView>(UIActivityIndicatorViewStyle::large);
    spinner->setIdentifier("spinner");
    spinner->setColor(UIColor::yellowColor());
    renderView->addSubview(spinner);
}

void CameraViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    doubleTapRecognizer->setDelegate(this);
    doubleTapRecognizer->setEnabled(true);
    singleTapRecognizer->setDelegate(this);
    singleTapRecognizer->setEnabled(true);
}

void CameraViewController::viewWillDisappear(bool animated) {
    sessionQueue->async([self = strongSelf()] { self->removeObservers(); });
    if (camera) {
        camera->stopCapture();
        camera->removeAllTargets();
    }
    UIViewController::viewWillDisappear(animated);
}
