#include "app/AssistViews.h"

#include <memory>

#include "app/AddView.h"
#include "camera/CameraViewController.h"

void placeAssistPanels(CameraViewController& c, CGRect picture) {
    // Each panel takes two fifths of the picture's width and a third of its height, a
    // little in from the corner.
    const double inset = 6, width = picture.size.width * 0.4, height = picture.size.height / 3;
    const double top = picture.origin.y + picture.size.height - inset - height;
    c.histogramView->setFrame(CGRectMake(picture.origin.x + inset, top, width, height));
    c.waveformView->setFrame(
        CGRectMake(picture.origin.x + picture.size.width - inset - width, top, width, height));
}

void addAssistViews(CameraViewController& c, UIView& root) {
    c.histogramView = addView<UIPlotView>(root, "histogramView", CGRect{});
    c.waveformView = addView<UIPlotView>(root, "waveformView", CGRect{});
    c.histogramView->setHidden(true);
    c.waveformView->setHidden(true);

    auto row = std::make_shared<UIStackView>();
    row->setIdentifier("assistControlsView");
    constexpr double h = 34; // the row's height; the layout places it
    row->setFrame(CGRectMake(0, 0, 360, h));
    row->axis = UILayoutConstraintAxis::horizontal;
    row->spacing = 4;
    c.assistControlsView = row.get();
    root.addSubview(row);
    c.histogramSwitch = addView<UISwitch>(*row, "histogramSwitch", CGRectMake(0, 0, 72, h), "Histogram");
    c.histogramColourSwitch =
        addView<UISwitch>(*row, "histogramColourSwitch", CGRectMake(0, 0, 38, h), "RGB");
    c.waveformSwitch = addView<UISwitch>(*row, "waveformSwitch", CGRectMake(0, 0, 72, h), "Waveform");
    c.zebraSwitch = addView<UISwitch>(*row, "zebraSwitch", CGRectMake(0, 0, 48, h), "Zebra");
    c.zebraLevelStepper =
        addView<UIStepper>(*row, "zebraLevelStepper", CGRectMake(0, 0, 50, h), 50.0, 100.0, 5.0, 95.0);
    c.peakingSwitch = addView<UISwitch>(*row, "peakingSwitch", CGRectMake(0, 0, 60, h), "Peaking");
    row->layoutSubviews();

    for (UISwitch* histogram : {c.histogramSwitch, c.histogramColourSwitch})
        histogram->addTarget([&c](UIControl& s) { c.histogramSwitchChanged(s); },
                             UIControlEvents::valueChanged);
    c.waveformSwitch->addTarget([&c](UIControl& s) { c.waveformSwitchChanged(s); },
                                UIControlEvents::valueChanged);
    for (UIControl* zebra : std::initializer_list<UIControl*>{c.zebraSwitch, c.zebraLevelStepper})
        zebra->addTarget([&c](UIControl& s) { c.zebraControlsChanged(s); }, UIControlEvents::valueChanged);
    c.peakingSwitch->addTarget([&c](UIControl& s) { c.peakingSwitchChanged(s); },
                               UIControlEvents::valueChanged);
}
