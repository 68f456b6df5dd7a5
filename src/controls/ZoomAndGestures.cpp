// Gestures other than the filter swipes: the single tap, the double tap that shows and
// hides the control groups, the pinch that zooms, and the rule that makes a single tap
// wait for the double tap.
#include "camera/CameraViewController.h"
#include "foundation/Format.h"
#include "foundation/Print.h"

bool CameraViewController::gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(
    UIGestureRecognizer& gestureRecognizer, UIGestureRecognizer& other) {
    auto* tap = dynamic_cast<UITapGestureRecognizer*>(&gestureRecognizer);
    if (!tap)
        return false;
    auto* otherTap = dynamic_cast<UITapGestureRecognizer*>(&other);
    if (!otherTap)
        return false;
    if (tap->numberOfTapsRequired == 2)
        return otherTap->numberOfTapsRequired == 1;
    return false;
}

void CameraViewController::focusAndExposeTap(UIGestureRecognizer&) {
    print("single tap");
}

void CameraViewController::DoubleTapEventHandler(UIGestureRecognizer&) {
    print("double tap, current hide: ", boolText(hideControls));
    hideControls = !hideControls;
    updateFocusControls();
    updateExposureControls();
    if (assistControlsView)
        assistControlsView->setHidden(hideControls);
}

void CameraViewController::pinchGestureEvent(UIGestureRecognizer& sender) {
    auto device = inputCamera();
    if (!device)
        return;
    auto& pinch = static_cast<UIPinchGestureRecognizer&>(sender);
    if (pinch.state() != UIGestureRecognizerState::changed)
        return;
    // The recognizer belongs to the main thread: take the scale gathered since the last
    // step here and hand the value over, so each changed event is applied once, in order.
    double scale = pinch.scale();
    pinch.setScale(1.0);
    sessionQueue->async([self = strongSelf(), device, scale] {
        double zoom = device->videoZoomFactor() * scale;
        if (zoom < device->minAvailableVideoZoomFactor())
            zoom = device->minAvailableVideoZoomFactor();
        else if (device->maxAvailableVideoZoomFactor() < zoom)
            zoom = device->maxAvailableVideoZoomFactor();
        NSError error;
        if (!device->lockForConfiguration(&error)) {
            print("zoom attempt caught exception");
            return;
        }
        device->setVideoZoomFactor(zoom);
        device->unlockForConfiguration();
    });
}
