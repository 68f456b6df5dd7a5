#pragma once
// The screen's focus and bias sliders for a camera that lacks what they move (a webcam
// without a focus motor or exposure compensation): greyed and inert, so that moving one
// does not look as if it did something. Their readouts stay as they are.
class AVCaptureDevice;
class UIView;

namespace host {

// Main thread: sets the sliders under `root` by what `device` can do; again whenever the
// camera (re)opens, as a replugged one may be another.
void greyMissingControls(UIView& root, const AVCaptureDevice& device);

} // namespace host
