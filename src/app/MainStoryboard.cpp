// The interface description: the camera screen's views, their look, the layout that
// places them for every size the window takes (ScreenLayout), and the outlets,
// actions and gesture recognizers connected to the controller. Also the scene
// configuration that names the scene delegate and this description.
#include <memory>

#include "app/AddView.h"
#include "app/AssistViews.h"
#include "app/MainStoryboard.h"
#include "app/ScreenLayout.h"
#include "camera/CameraViewController.h"
#include "ui/UIApplication.h"
#include "ui/UIScreen.h"

namespace {

std::vector<std::string> segmentTitles() {
    return {"Locked", "Manual", "Auto", "Continuous"};
}

// A group's heading, over its first control.
void addHeading(UIView& group, const char* outletName, const char* text) {
    auto* heading = addView<UILabel>(group, outletName, CGRect{});
    heading->setText(text);
    heading->setFontSize(13);
    heading->setTextColor({0.78, 0.78, 0.8, 1});
}

} // namespace

std::shared_ptr<CameraViewController> instantiateCameraScreen() {
    auto object = ClassRegistry::instantiate("Fernhold.CameraViewController");
    auto controller = std::static_pointer_cast<CameraViewController>(object);
    CameraViewController& c = *controller;

    auto root = std::make_shared<UIView>(CGRectMake(0, 0, UIScreen::width, UIScreen::height));
    root->setIdentifier("view");
    c.setView(root);

    c.filterNameLabel = addView<UILabel>(*root, "filterNameLabel", CGRect{});
    auto renderView = std::make_shared<RenderView>();
    renderView->setIdentifier("renderView");
    c.renderView = renderView.get();
    root->addSubview(renderView);
    c.cameraUnavailableLabel = addView<UILabel>(*c.renderView, "cameraUnavailableLabel", CGRect{});
    c.cameraUnavailableLabel->setText("Camera unavailable");
    c.cameraUnavailableLabel->setFontSize(30);
    c.cameraUnavailableLabel->setTextAlignment(NSTextAlignment::center);
    c.cameraUnavailableLabel->setBackgroundColor({0, 0, 0, 0.6});
    c.cameraUnavailableLabel->setHidden(true);

    ScreenExtras extras;
    c.luminosityLabel = addView<UILabel>(*root, "luminosityLabel", CGRect{});
    extras.luminosityCaption = addView<UILabel>(*root, "luminosityCaptionLabel", CGRect{});
    extras.luminosityCaption->setText("brightest pixel, 0 to 255");
    extras.luminosityCaption->setFontSize(12);
    extras.luminosityCaption->setTextColor({0.78, 0.78, 0.8, 1});
    c.zoomLabel = addView<UILabel>(*root, "zoomLabel", CGRect{});
    c.zoomLabel->setTextAlignment(NSTextAlignment::right);

    auto focusStack = std::make_shared<UIStackView>();
    focusStack->setIdentifier("focusControlsView");
    c.focusControlsView = focusStack.get();
    root->addSubview(focusStack);
    addHeading(*focusStack, "focusHeadingLabel", "Focus");
    c.focusModeControl =
        addView<UISegmentedControl>(*focusStack, "focusModeControl", CGRect{}, segmentTitles());
    c.focusLabel = addView<UILabel>(*focusStack, "focusLabel", CGRect{});
    c.focusSlider = addView<UISlider>(*focusStack, "focusSlider", CGRect{});

    auto exposureStack = std::make_shared<UIStackView>();
    exposureStack->setIdentifier("exposureControlsView");
    c.exposureControlsView = exposureStack.get();
    root->addSubview(exposureStack);
    addHeading(*exposureStack, "exposureHeadingLabel", "Exposure");
    c.exposureModeControl =
        addView<UISegmentedControl>(*exposureStack, "exposureModeControl", CGRect{}, segmentTitles());
    c.exposureBiasLabel = addView<UILabel>(*exposureStack, "exposureBiasLabel", CGRect{});
    c.exposureBiasSlider = addView<UISlider>(*exposureStack, "exposureBiasSlider", CGRect{});
    c.exposureDurationLabel = addView<UILabel>(*exposureStack, "exposureDurationLabel", CGRect{});
    c.durationSlider = addView<UISlider>(*exposureStack, "durationSlider", CGRect{});
    c.isoLabel = addView<UILabel>(*exposureStack, "isoLabel", CGRect{});
    c.isoSlider = addView<UISlider>(*exposureStack, "isoSlider", CGRect{});

    addAssistViews(c, *root);
    // The shutter, the photo folder and the record button are the desktop's: the host connects them, the
    // controller never sees them.
    extras.shutter = addView<UIButton>(*root, "shutterButton", CGRect{}, "Shutter", UIButtonStyle::shutter);
    extras.photoFolder = addView<UIButton>(*root, "photoFolderButton", CGRect{}, "Photos");
    // The camera panel is the desktop's too: the host fills it with the camera's controls.
    extras.cameraPanelButton = addView<UIButton>(*root, "cameraPanelButton", CGRect{}, "Camera");
    auto* cameraPanel = addView<UIStackView>(*root, "cameraPanelView", CGRect{});
    cameraPanel->scrolls = true; // a camera may have more controls than a small window holds
    cameraPanel->setHidden(true);
    extras.cameraPanel = cameraPanel;
    extras.record = addView<UIButton>(*root, "recordButton", CGRect{}, "Record", UIButtonStyle::record);
    // Writing to a video output node: shown by the host only in a run that has one.
    extras.output = addView<UIButton>(*root, "outputButton", CGRect{}, "Output off");
    extras.output->setHidden(true);
    root->setLayout([&c, extras](UIView& view) { layoutCameraScreen(c, extras, view.frame().size); });
    root->layoutSubviews();

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
                             [] { return std::shared_ptr<UIViewController>(instantiateCameraScreen()); },
                             {minimumScreenSize}});
    return true;
}();
} // namespace
