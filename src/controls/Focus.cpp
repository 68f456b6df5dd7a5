// Focus: the mode control and lens-position slider, the device writes on the session
// queue, the group's refresh, and the start-up sequence that locks the lens at 0.3.
#include "camera/CameraViewController.h"
#include "foundation/Format.h"
#include "foundation/Print.h"

namespace {
using Segment = CameraViewController::focusModeControlSegment;
constexpr double startupLensPosition = 0.3;

AVCaptureFocusMode focusModeForSegment(Segment segment) {
    switch (segment) {
    case Segment::auto_:
        return AVCaptureFocusMode::autoFocus;
    case Segment::continuous:
        return AVCaptureFocusMode::continuousAutoFocus;
    case Segment::locked:
    case Segment::manual:
        break;
    }
    return AVCaptureFocusMode::locked;
}
} // namespace

void CameraViewController::focusModeControlChanged(UIControl& sender) {
    auto& control = static_cast<UISegmentedControl&>(sender);
    std::optional<Segment> segment = makeSegment(control.selectedSegmentIndex());
    // A four-segment control always sends 0...3; anything else is not a focus choice.
    if (!segment)
        return;
    print("focus mode button changed to ", *segment);
    setFocusMode(inputCamera(), focusModeForSegment(*segment));
    updateFocusControls();
}

void CameraViewController::focusSliderChanged(UIControl& sender) {
    double lensPosition = double(static_cast<UISlider&>(sender).value());
    setFocusPos(inputCamera(), lensPosition, nullptr);
}

void CameraViewController::setFocusMode(std::shared_ptr<AVCaptureDevice> device, AVCaptureFocusMode mode) {
    sessionQueue->async([self = strongSelf(), device = std::move(device), mode] {
        NSError error;
        if (!device->lockForConfiguration(&error)) {
            print("setFocusMode caught exception ", error.localizedDescription());
            return;
        }
        switch (mode) {
        case AVCaptureFocusMode::autoFocus:
        case AVCaptureFocusMode::continuousAutoFocus:
            // A device without the automatic mode answers "but dns" rather than failing.
            if (device->isFocusModeSupported(mode))
                device->setFocusMode(mode);
            else
                print("setFocusMode but dns ",
                      mode == AVCaptureFocusMode::autoFocus ? "auto focus" : "continuous auto focus");
            break;
        case AVCaptureFocusMode::locked:
            if (device->isFocusModeSupported(AVCaptureFocusMode::locked))
                device->setFocusMode(AVCaptureFocusMode::locked);
            else
                print("setFocusMode but dns locked focus");
            break;
        default:
            print(" unknown mode");
            break;
        }
        device->unlockForConfiguration();
    });
}

void CameraViewController::setFocusPos(std::shared_ptr<AVCaptureDevice> device, double lensPosition,
                                       std::function<void(CMTime)> completion) {
    sessionQueue->async(
        [self = strongSelf(), device = std::move(device), lensPosition, completion = std::move(completion)] {
            NSError error;
            if (!device->lockForConfiguration(&error)) {
                print("setFocus caught exception ", error.localizedDescription());
                return;
            }
            if (!device->isFocusModeSupported(AVCaptureFocusMode::locked)) {
                print("setFocusPos but dns locked focus");
            } else if (!device->isLockingFocusWithCustomLensPositionSupported()) {
                print("setFocusPos but dns custom lens position");
            } else {
                AVCaptureDevice::SyncTimeHandler handler;
                if (completion)
                    handler = [completion](CMTime syncTime) { completion(syncTime); };
                device->setFocusModeLockedWithLensPosition(float(lensPosition), handler);
            }
            device->unlockForConfiguration();
        });
}

void CameraViewController::updateFocusControls() {
    if (hideControls) {
        focusControlsView->setHidden(true);
        return;
    }
    focusControlsView->setHidden(false);
    int index = focusModeControl->selectedSegmentIndex();
    focusSlider->setMinimumValue(0.0f);
    focusSlider->setMaximumValue(1.0f);
    focusSlider->setValue(inputCamera()->lensPosition());
    std::optional<Segment> segment = makeSegment(index);
    if (!segment) {
        print("unknown focusmode nil");
        return;
    }
    focusSlider->setHidden(*segment != Segment::manual);
}

void CameraViewController::configureInitialFocus() {
    sessionQueue->async([self = strongSelf()] {
        self->setFocusPos(self->inputCamera(), startupLensPosition, [self](CMTime syncTime) {
            // On the device's thread: print, then hand the control refresh to the main queue.
            print("focus set to manual at 0.300 at time ", shortestDecimal(CMTimeGetSeconds(syncTime)));
            DispatchQueue::main().async([self] { self->syncModeControlsToDevice(); });
        });
    });
}

void CameraViewController::syncModeControlsToDevice() {
    auto device = inputCamera();
    switch (device->focusMode()) {
    case AVCaptureFocusMode::locked:
        focusModeControl->setSelectedSegmentIndex(int(Segment::locked));
        break;
    case AVCaptureFocusMode::autoFocus:
        focusModeControl->setSelectedSegmentIndex(int(Segment::auto_));
        break;
    case AVCaptureFocusMode::continuousAutoFocus:
        focusModeControl->setSelectedSegmentIndex(int(Segment::continuous));
        break;
    default:
        print("unknown initial focus mode");
        break;
    }
    switch (device->exposureMode()) {
    case AVCaptureExposureMode::locked:
    case AVCaptureExposureMode::custom:
        exposureModeControl->setSelectedSegmentIndex(int(Segment::locked));
        break;
    case AVCaptureExposureMode::autoExpose:
        exposureModeControl->setSelectedSegmentIndex(int(Segment::auto_));
        break;
    case AVCaptureExposureMode::continuousAutoExposure:
        exposureModeControl->setSelectedSegmentIndex(int(Segment::continuous));
        break;
    default:
        print("unknown initial exposure mode");
        break;
    }
    updateFocusControls();
    updateExposureControls();
}
