// The interface description: the camera screen's views, their layout for the window's
// shape (portrait or landscape, redone on every resize), and the outlets,
// actions and gesture recognizers connected to the controller. Also the scene
// configuration that names the scene delegate and this description.
#include <algorithm>
#include <memory>

#include "app/AddView.h"
#include "app/AssistViews.h"
#include "app/MainStoryboard.h"
#include "camera/CameraViewController.h"
#include "ui/UIApplication.h"
#include "ui/UIScreen.h"

namespace {
constexpr double margin = 12;
// Portrait, as on the phone: the views stacked under the picture.
constexpr double pictureTop = 80;
// Landscape, as on a desktop: the picture as large as the window allows, with the filter
// name, the readouts, the control groups, the assists' buttons and the shutter in a panel
// at its right.
constexpr double panelWidth = 384;
constexpr double readoutWidth = 120, readoutHeight = 24, focusHeight = 110, exposureHeight = 260;
constexpr double portraitShutter = 44, landscapeShutter = 64, assistRowHeight = 34;

CGRect row(double height) {
    return CGRectMake(0, 0, UIScreen::width - 2 * margin, height);
}

std::vector<std::string> segmentTitles() {
    return {"Locked", "Manual", "Auto", "Continuous"};
}

// The picture view takes the picture's proportions (640 x 480 unless the run asked for
// another size), as large as `box` allows and centred in it.
CGRect fitPicture(CGRect box) {
    const Size picture = sharedFramebufferSize();
    const double scale =
        std::min(box.size.width / double(picture.width), box.size.height / double(picture.height));
    const double width = double(picture.width) * scale, height = double(picture.height) * scale;
    return CGRectMake(box.origin.x + (box.size.width - width) / 2,
                      box.origin.y + (box.size.height - height) / 2, width, height);
}

// Where the readouts, the control groups and the assists' buttons go: a column `width`
// wide from (`x`, `top`).
void placeColumn(CameraViewController& c, double x, double top, double width) {
    c.luminosityLabel->setFrame(CGRectMake(x, top, readoutWidth, readoutHeight));
    c.zoomLabel->setFrame(CGRectMake(x + width - readoutWidth, top, readoutWidth, readoutHeight));
    c.focusControlsView->setFrame(CGRectMake(x, top + 34, width, focusHeight));
    c.exposureControlsView->setFrame(CGRectMake(x, top + 154, width, exposureHeight));
    c.assistControlsView->setFrame(CGRectMake(x, top + 154 + exposureHeight + 8, width, assistRowHeight));
}

// The one layout of the screen, redone for every size the window takes: portrait where
// the window is taller than wide, landscape otherwise.
void layoutCameraScreen(CameraViewController& c, UIView& shutter, CGSize size) {
    const double width = size.width, height = size.height;
    CGRect picture;
    if (height > width) {
        // A 4:3 box under the title, as on the phone; the column under it fills the
        // screen, so the shutter sits on the picture's lower edge, between the scopes.
        picture = fitPicture(CGRectMake(0, pictureTop, width, width * 3.0 / 4.0));
        c.filterNameLabel->setFrame(CGRectMake(0, 40, width, 30));
        placeColumn(c, margin, pictureTop + width * 3.0 / 4.0 + 8, width - 2 * margin);
        shutter.setFrame(CGRectMake(picture.origin.x + (picture.size.width - portraitShutter) / 2,
                                    picture.origin.y + picture.size.height - portraitShutter - 6,
                                    portraitShutter, portraitShutter));
    } else {
        const double panel = std::min(panelWidth, width / 2);
        picture = fitPicture(CGRectMake(0, 0, width - panel, height));
        const double x = width - panel + margin, column = panel - 2 * margin;
        c.filterNameLabel->setFrame(CGRectMake(x, 16, column, 30));
        placeColumn(c, x, 54, column);
        shutter.setFrame(CGRectMake(x + (column - landscapeShutter) / 2, height - landscapeShutter - 16,
                                    landscapeShutter, landscapeShutter));
    }
    c.renderView->setFrame(picture);
    c.cameraUnavailableLabel->setFrame(CGRectMake(0, picture.size.height / 2 - 15, picture.size.width, 30));
    placeAssistPanels(c, picture);
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
    c.cameraUnavailableLabel->setHidden(true);

    c.luminosityLabel = addView<UILabel>(*root, "luminosityLabel", CGRect{});
    c.zoomLabel = addView<UILabel>(*root, "zoomLabel", CGRect{});

    auto focusStack = std::make_shared<UIStackView>();
    focusStack->setIdentifier("focusControlsView");
    c.focusControlsView = focusStack.get();
    root->addSubview(focusStack);
    c.focusModeControl =
        addView<UISegmentedControl>(*focusStack, "focusModeControl", row(32), segmentTitles());
    c.focusLabel = addView<UILabel>(*focusStack, "focusLabel", row(22));
    c.focusSlider = addView<UISlider>(*focusStack, "focusSlider", row(28));

    auto exposureStack = std::make_shared<UIStackView>();
    exposureStack->setIdentifier("exposureControlsView");
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

    addAssistViews(c, *root);
    // The shutter is the desktop's: the host connects it, the controller never sees it.
    UIButton* shutter = addView<UIButton>(*root, "shutterButton", CGRect{}, "Shutter");
    root->setLayout([&c, shutter](UIView& view) { layoutCameraScreen(c, *shutter, view.frame().size); });
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
                             [] { return std::shared_ptr<UIViewController>(instantiateCameraScreen()); }});
    return true;
}();
} // namespace
