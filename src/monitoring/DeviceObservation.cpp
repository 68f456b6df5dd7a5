// Observation of the capture device's properties and the readouts they feed.
#include "camera/CameraViewController.h"
#include "foundation/Format.h"
#include "foundation/Print.h"
#include "observe/NSNotificationCenter.h"

namespace {
using Options = NSKeyValueObservingOptions;
constexpr Options initialAndNew = Options::initial | Options::new_;
} // namespace

// Each observation is rooted at the controller: "camera.inputCamera.<property>". The
// camera is created once, before the first registration, so the path resolves to the
// device the camera holds at registration time.
void CameraViewController::addObservers() {
    auto device = inputCamera();
    if (!device)
        return; // nothing to observe yet: every path would yield no value
    auto self = strongSelf();

    // 1. "camera.inputCamera.systemPressureState": on the delivering thread, no hop.
    keyValueObservations.push_back(device->systemPressureStateProperty.observe(
        Options::new_, [self](const NSKeyValueObservedChange<AVCaptureSystemPressureState>& change) {
            if (change.newValue)
                self->handleSystemPressure(*change.newValue);
        }));
    // 2. "camera.inputCamera.focusMode"
    keyValueObservations.push_back(device->focusModeProperty.observe(
        initialAndNew, [self](const NSKeyValueObservedChange<AVCaptureFocusMode>& change) {
            if (!change.newValue)
                return;
            print("focusMode changed to ", int(*change.newValue));
            DispatchQueue::main().async([self] { self->updateFocusControls(); });
        }));
    // 3. "camera.inputCamera.lensPosition"
    keyValueObservations.push_back(device->lensPositionProperty.observe(
        initialAndNew, [self](const NSKeyValueObservedChange<float>& change) {
            if (!change.newValue)
                return;
            DispatchQueue::main().async([self, value = *change.newValue] {
                self->focusLabel->setText(stringWithFormat("Pos %0.3f", double(value)));
            });
        }));
    // 4. "camera.inputCamera.videoZoomFactor"
    keyValueObservations.push_back(device->videoZoomFactorProperty.observe(
        initialAndNew, [self](const NSKeyValueObservedChange<double>& change) {
            if (!change.newValue)
                return;
            DispatchQueue::main().async([self, value = *change.newValue] {
                std::string text = stringWithFormat("%.1f×", value);
                self->zoomLabel->setText(text == "1.0×" ? "" : text);
            });
        }));
    // 5. "camera.inputCamera.exposureMode"
    keyValueObservations.push_back(device->exposureModeProperty.observe(
        initialAndNew, [self](const NSKeyValueObservedChange<AVCaptureExposureMode>& change) {
            if (!change.newValue)
                return;
            print("exposureMode changed to ", int(*change.newValue));
            DispatchQueue::main().async([self] { self->updateExposureControls(); });
        }));
    // 6. "camera.inputCamera.exposureTargetBias"
    keyValueObservations.push_back(device->exposureTargetBiasProperty.observe(
        initialAndNew, [self](const NSKeyValueObservedChange<float>& change) {
            if (!change.newValue)
                return;
            DispatchQueue::main().async([self, value = *change.newValue] {
                self->exposureBiasLabel->setText(stringWithFormat("Bias %.2f EV", double(value)));
            });
        }));
    // 7. "camera.inputCamera.exposureDuration"
    keyValueObservations.push_back(device->exposureDurationProperty.observe(
        initialAndNew, [self](const NSKeyValueObservedChange<CMTime>& change) {
            if (!change.newValue)
                return;
            DispatchQueue::main().async([self, value = *change.newValue] {
                double seconds = CMTimeGetSeconds(value);
                self->exposureDurationLabel->setText(stringWithFormat("Secs %.6f", seconds));
            });
        }));
    // 8. "camera.inputCamera.ISO"
    keyValueObservations.push_back(
        device->isoProperty.observe(initialAndNew, [self](const NSKeyValueObservedChange<float>& change) {
            if (!change.newValue)
                return;
            DispatchQueue::main().async([self, value = *change.newValue] {
                self->isoLabel->setText(stringWithFormat("ISO %.0f", double(value)));
            });
        }));
    // 9. "camera.inputCamera.whiteBalanceMode": a diagnostic line only; holds nothing.
    keyValueObservations.push_back(device->whiteBalanceModeProperty.observe(
        initialAndNew, [](const NSKeyValueObservedChange<AVCaptureWhiteBalanceMode>& change) {
            if (change.newValue)
                print("whiteBalanceMode changed to ", int(*change.newValue));
        }));
}

void CameraViewController::removeObservers() {
    NSNotificationCenter::defaultCenter().removeObserver(this);
    for (auto& observation : keyValueObservations)
        observation->invalidate();
    // Releasing the tokens releases their handlers and the handlers' hold on the controller.
    std::vector<std::unique_ptr<NSKeyValueObservation>> released;
    released.swap(keyValueObservations);
}

void CameraViewController::subjectAreaDidChangeWithNotification(const NSNotification&) {}
