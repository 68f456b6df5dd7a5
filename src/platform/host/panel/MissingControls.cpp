#include "host/panel/MissingControls.h"

#include "capture/AVCaptureDevice.h"
#include "host/script/ViewSearch.h"
#include "ui/UIControls.h"

namespace host {

void greyMissingControls(UIView& root, const AVCaptureDevice& device) {
    if (auto* focus = findView<UISlider>(root, "focusSlider"))
        focus->setEnabled(device.isFocusModeSupported(AVCaptureFocusMode::locked) &&
                          device.isLockingFocusWithCustomLensPositionSupported());
    if (auto* bias = findView<UISlider>(root, "exposureBiasSlider"))
        bias->setEnabled(device.minExposureTargetBias() < device.maxExposureTargetBias());
}

} // namespace host
