// The exposure and focus assists: the panel's switches and the zebra level, and where
// zebra and peaking sit in the Normal graph.
#include "camera/CameraViewController.h"

// Main thread. The colour switch shares this action: it picks the histogram's view.
void CameraViewController::histogramSwitchChanged(UIControl&) {
    histogramShown_.store(histogramSwitch->isOn());
    histogramInColour_.store(histogramColourSwitch->isOn());
    histogramView->setHidden(!histogramSwitch->isOn());
}

// Main thread.
void CameraViewController::waveformSwitchChanged(UIControl&) {
    waveformShown_.store(waveformSwitch->isOn());
    waveformView->setHidden(!waveformSwitch->isOn());
}

// Main thread: the switch and the level stepper both end here.
void CameraViewController::zebraControlsChanged(UIControl& sender) {
    zebraFilter_->level.store(float(zebraLevelStepper->value()) * 255.0f / 100.0f);
    if (&sender == zebraSwitch)
        rebuildAssistedGraph();
}

// Main thread.
void CameraViewController::peakingSwitchChanged(UIControl&) {
    rebuildAssistedGraph();
}

std::shared_ptr<ImageSource> CameraViewController::assistedCameraOutput() {
    // Whatever the assists fed before is let go, so the blend's first input is free.
    peakingFilter_->removeAllTargets();
    zebraFilter_->removeAllTargets();
    std::shared_ptr<ImageSource> source = camera;
    // Peaking looks at the camera's own edges, before any stripe is drawn.
    if (peakingSwitch && peakingSwitch->isOn())
        source = source >> peakingFilter_;
    if (zebraSwitch && zebraSwitch->isOn())
        source = source >> zebraFilter_;
    return source;
}

// Main thread: reconnects the Normal graph's picture path; the other graphs do not use the
// assists, and the next configuration builds the Normal one with them.
void CameraViewController::rebuildAssistedGraph() {
    if (!alreadyCapturing ||
        filterCarousel[size_t(selectedFilterIndex.load())].ftype != CarouselItem::ItemType::none)
        return;
    camera->removeAllTargets();
    assistedCameraOutput() >> blendFilter;
}
