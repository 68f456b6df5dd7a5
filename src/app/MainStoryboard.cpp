// The interface description: the camera screen's views, their layout, and the outlets,
// actions and gesture recognizers connected to the controller. Also the scene
// configuration that names the scene delegate and this description.
#include <memory>

#include "app/AssistViews.h"
#include "app/MainStoryboard.h"
#include "camera/CameraViewController.h"
#include "ui/UIApplication.h"

namespace {
constexpr double screenWidth = 390, screenHeight = 844;
constexpr double margin = 12;
constexpr double pictureTop = 80, pictureHeight = screenWidth * 480.0 / 640.0;

template <typename View, typename... Args>
View* addView(UIView& parent, const char* outletName, CGRect frame, Args&&... args) {
    auto view = std::make_shared<View>(std::forward<Args>(args)...);
    view->setIdentifier(outletName);
    view->setFrame(frame);
    View* raw = view.get();
    parent.addSubview(std::move(view));
    return raw;
}

CGRect row(double height) {
    return CGRectMake(0, 0, screenWidth - 2 * margin, height);
}

std::vector<std::string> segmentTitles() {
    return {"Locked", "Manual", "Auto", "Continuous"};
}

} // namespace

std::shared_ptr<CameraViewController> instantiateCameraScreen() {
    auto object = ClassRegistry::instantiate("Fernhold.CameraViewController");
    auto controller = std::static_pointer_cast<CameraViewController>(object);
    CameraViewController& c = *controller;

    auto root = std::make_shared<UIView>(CGRectMake(0, 0, screenWidth, screenHeight));
    root->setIdentifier("view");
    c.setView(root);

    c.filterNameLabel = addView<UILabel>(*root, "filterNameLabel", CGRectMake(0, 40, screenWidth, 30));
    auto renderView = std::make_shared<RenderView>();
    renderView->setIdentifier("renderView");
    renderView->setFrame(CGRectMake(0, pictureTop, screenWidth, pictureHeight));
    c.renderView = renderView.get();
    root->addSubview(renderView);
    c.cameraUnavailableLabel = addView<UILabel>(*c.renderView, "cameraUnavailableLabel",
                                                CGRectMake(0, pictureHeight / 2 - 15, screenWidth, 30));
    c.cameraUnavailableLabel->setText("Camera unavailable");
    c.cameraUnavailableLabel->setHidden(true);

    double readoutTop = pictureTop + pictureHeight + 8;
    c.luminosityLabel = addView<UILabel>(*root, "luminosityLabel", CGRectMake(margin, readoutTop, 120, 24));
    c.zoomLabel =
        addView<UILabel>(*root, "zoomLabel", CGRectMake(screenWidth - margin - 120, readoutTop, 120, 24));

    auto focusStack = std::make_shared<UIStackView>();
    focusStack->setIdentifier("focusControlsView");
    focusStack->setFrame(CGRectMake(margin, readoutTop + 34, screenWidth - 2 * margin, 110));
    c.focusControlsView = focusStack.get();
    root->addSubview(focusStack);
    c.focusModeControl =
        addView<UISegmentedControl>(*focusStack, "focusModeControl", row(32), segmentTitles());
    c.focusLabel = addView<UILabel>(*focusStack, "focusLabel", row(22));
    c.focusSlider = addView<UISlider>(*focusStack, "focusSlider", row(28));

    auto exposureStack = std::make_shared<UIStackView>();
    exposureStack->setIdentifier("exposureControlsView");
    exposureStack->setFrame(CGRectMake(margin, readoutTop + 154, screenWidth - 2 * margin, 260));
    c.exposureControlsView = exposureStack.get();
    root->addSubview(exposureStack);
    c.exposureModeControl =
        addView<UISegmentedControl>(*exposureStack, "exposureModeControl", row(32), segmentTitles());
    c.exposureBiasLabel = addView<UILabel>(*exposureStack, "exposureBiasLabel", row(22));
    c.exposureBiasSlider = addView<UISlider>(*exposureStack, "exposureBiasSlider", row(28));
    c.exposureDurationLabel = addView<UILabel>(*exposureStack, "exposureDurationLabel", row(22));
    c.durationSlider = addView<UISlider>(*exposureStack, "durationSlider", row(28));
    c.isoLabel = addView<UILabel>(*exposureStack, "isoLabel", row(22));
    c.isoSlider = addView<UISlider>(*exposureStack, "isoSlider", row(28));

    addAssistViews(c, *root, c.renderView->frame(),
                   CGRectMake(margin, readoutTop + 422, screenWidth - 2 * margin, 34));

    // The selections and ranges the screen starts with, before the device is known.
    c.focusModeControl->setSelectedSegmentIndex(3);
    c.exposureModeControl->setSelectedSegmentIndex(3);
    c.exposureBiasSlider->setMinimumValue(-8);
    c.exposureBiasSlider->setMaximumValue(8);
    c.exposureBiasSlider->setValue(0);

    // Actions. The controller owns the view tree, so the controls never outlive it.
    c.focusModeControl->addTarget([&c](UIControl& s) { c.focusModeControlChanged(s); },
                                  UIControlEvents::valueChanged);
    c.focusSlider->addTarget([&c](UIControl& s) { c.focusSliderChanged(s); }, UIControlEvents::valueChanged);
    c.exposureModeControl->addTarget([&c](UIControl& s) { c.exposureModeControlChanged(s); },
                                     UIControlEvents::valueChanged);
    c.exposureBiasSlider->addTarget([&c](UIControl& s) { c.exposureBiasSliderChanged(s); },
                                    UIControlEvents::valueChanged);
    c.durationSlider->addTarget([&c](UIControl& s) { c.durationSliderChanged(s); },
                                UIControlEvents::valueChanged);
    c.isoSlider->addTarget([&c](UIControl& s) { c.isoSliderChanged(s); }, UIControlEvents::valueChanged);

    // Gesture recognizers on the screen's view.
    auto swipeLeft = std::make_shared<UISwipeGestureRecognizer>();
    swipeLeft->direction = UISwipeGestureRecognizerDirection::left;
    swipeLeft->addTarget([&c](UIGestureRecognizer& s) { c.swipeLeft(s); });
    root->addGestureRecognizer(swipeLeft);
    auto swipeRight = std::make_shared<UISwipeGestureRecognizer>();
    swipeRight->direction = UISwipeGestureRecognizerDirection::right;
    swipeRight->addTarget([&c](UIGestureRecognizer& s) { c.swipeRight(s); });
    root->addGestureRecognizer(swipeRight);
    auto singleTap = std::make_shared<UITapGestureRecognizer>();
    singleTap->numberOfTapsRequired = 1;
    singleTap->addTarget([&c](UIGestureRecognizer& s) { c.focusAndExposeTap(s); });
    root->addGestureRecognizer(singleTap);
    auto doubleTap = std::make_shared<UITapGestureRecognizer>();
    doubleTap->numberOfTapsRequired = 2;
    doubleTap->addTarget([&c](UIGestureRecognizer& s) { c.DoubleTapEventHandler(s); });
    root->addGestureRecognizer(doubleTap);
    auto pinch = std::make_shared<UIPinchGestureRecognizer>();
    pinch->addTarget([&c](UIGestureRecognizer& s) { c.pinchGestureEvent(s); });
    root->addGestureRecognizer(pinch);

    c.singleTapRecognizer = singleTap;
    c.doubleTapRecognizer = doubleTap;
    c.setTapGestureRecognizers(std::vector<std::shared_ptr<UITapGestureRecognizer>>{singleTap, doubleTap});
    return controller;
}

namespace {
// The class the interface description names, made with initWithCoder.
const bool cameraScreenRegistered = [] {
    ClassRegistry::registerClass("Fernhold.CameraViewController", [] {
        return std::static_pointer_cast<void>(std::make_shared<CameraViewController>(NSCoder("Main")));
    });
    UISetSceneConfiguration({"Fernhold.SceneDelegate",
                             [] { return std::shared_ptr<UIViewController>(instantiateCameraScreen()); }});
    return true;
}();
} // namespace
