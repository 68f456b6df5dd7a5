#include "app/ScreenLayout.h"

#include <algorithm>

#include "app/AssistViews.h"
#include "camera/CameraViewController.h"

namespace {

constexpr double margin = 12;
// Between blocks of the panel: clear of the 6-point rims drawn round the control groups.
constexpr double gap = 14;
constexpr double narrowestColumn = 280, widestColumn = 384;
constexpr double luminosityWidth = 44, zoomWidth = 64, photoFolderWidth = 80, photoFolderHeight = 30;

// Row heights: the regular ones, and the compact ones a short window gets.
struct Metrics {
    double title, readout, segments, label, slider, spacing, assist, shutter;
};
constexpr Metrics regular{30, 24, 30, 20, 26, 6, 34, 64};
constexpr Metrics compact{24, 20, 26, 17, 22, 3, 30, 52};

// Every row of a control group gets its height; the stack arranges them.
void sizeRows(UIStackView& group, const Metrics& m) {
    group.spacing = m.spacing;
    for (const auto& view : group.subviews()) {
        CGRect f = view->frame();
        f.size.height = dynamic_cast<UISegmentedControl*>(view.get()) ? m.segments
                        : dynamic_cast<UISlider*>(view.get())         ? m.slider
                                                                      : m.label;
        view->setFrame(f);
    }
}

double focusHeight(const Metrics& m) {
    return m.label + m.segments + m.label + m.slider + 3 * m.spacing; // heading, mode, position
}

// The exposure group at its tallest: a custom exposure shows the duration and ISO sliders
// under their labels, the others the bias slider and three labels.
double exposureHeight(const Metrics& m) {
    return m.label + m.segments + 2 * m.label + m.slider + std::max(m.label, m.slider) + 5 * m.spacing;
}

double assistHeight(CameraViewController& c, const Metrics& m, double width) {
    UIStackView* row = c.assistControlsView;
    for (const auto& view : row->subviews()) {
        CGRect f = view->frame();
        f.size.height = m.assist;
        view->setFrame(f);
    }
    row->wraps = true;
    // Measured as if every button showed, so the panel does not move when one hides.
    const bool hidden = row->isHidden();
    row->setHidden(false);
    const double height = row->heightForWidth(width);
    row->setHidden(hidden);
    return height;
}

// The picture view takes the picture's proportions (640 x 480 unless the run asked for
// another size), as large as `box` allows and centred in it.
CGRect fitPicture(CGRect box) {
    const Size picture = sharedFramebufferSize();
    const double scale = std::max(
        0.0, std::min(box.size.width / double(picture.width), box.size.height / double(picture.height)));
    const double width = double(picture.width) * scale, height = double(picture.height) * scale;
    return CGRectMake(box.origin.x + (box.size.width - width) / 2,
                      box.origin.y + (box.size.height - height) / 2, width, height);
}

void placeReadouts(CameraViewController& c, const ScreenExtras& e, double x, double y, double width,
                   const Metrics& m) {
    c.luminosityLabel->setFrame(CGRectMake(x, y, luminosityWidth, m.readout));
    e.luminosityCaption->setFrame(
        CGRectMake(x + luminosityWidth, y, width - luminosityWidth - zoomWidth - 4, m.readout));
    c.zoomLabel->setFrame(CGRectMake(x + width - zoomWidth, y, zoomWidth, m.readout));
}

// The shutter in the middle of the column, the photo folder's button at its right end, and
// at its left the record button (as wide, for the time recorded beside its dot) over the
// camera panel's button, each half the row's height.
void placeShutterRow(const ScreenExtras& e, double x, double y, double width, const Metrics& m) {
    const double half = (m.shutter - 4) / 2;
    if (e.record)
        e.record->setFrame(CGRectMake(x, y, photoFolderWidth, half));
    e.shutter->setFrame(CGRectMake(x + (width - m.shutter) / 2, y, m.shutter, m.shutter));
    const bool withOutput = e.output && !e.output->isHidden();
    e.photoFolder->setFrame(withOutput ? CGRectMake(x + width - photoFolderWidth, y, photoFolderWidth, half)
                                       : CGRectMake(x + width - photoFolderWidth,
                                                    y + (m.shutter - photoFolderHeight) / 2, photoFolderWidth,
                                                    photoFolderHeight));
    if (e.output)
        e.output->setFrame(
            CGRectMake(x + width - photoFolderWidth, y + m.shutter - half, photoFolderWidth, half));
    if (e.cameraPanelButton)
        e.cameraPanelButton->setFrame(CGRectMake(x, y + m.shutter - half, photoFolderWidth, half));
}

// The camera panel over the left of the picture, down to `bottom`; it scrolls what does
// not fit.
void placeCameraPanel(UIView& panel, CGRect picture, double bottom) {
    // Below the window's help hint at the picture's top left.
    const double inset = 12, top = 44, width = std::min(300.0, std::max(200.0, picture.size.width * 0.4));
    panel.setFrame(CGRectMake(picture.origin.x + inset, picture.origin.y + top, width,
                              std::max(0.0, bottom - inset - picture.origin.y - top)));
    panel.layoutSubviews();
}

// Blocks from the top of a column of `width` at (`x`, `y`), each `gap` below the last;
// returns where the last one ends.
template <typename... Blocks> double stackBlocks(double x, double y, double width, Blocks... blocks) {
    bool first = true;
    ((y += first ? 0 : gap, first = false, y = blocks(x, y, width)), ...);
    return y;
}

struct Placement {
    CameraViewController& c;
    const ScreenExtras& e;
    const Metrics& m;

    auto readouts() const {
        return [this](double x, double y, double w) {
            placeReadouts(c, e, x, y, w, m);
            return y + m.readout;
        };
    }
    auto group(UIView* view, double height) const {
        return [view, height](double x, double y, double w) {
            view->setFrame(CGRectMake(x, y, w, height));
            return y + height;
        };
    }
    auto assists(double height) const { return group(c.assistControlsView, height); }
    auto shutterRow() const {
        return [this](double x, double y, double w) {
            placeShutterRow(e, x, y, w, m);
            return y + m.shutter;
        };
    }
};

// The panel in one column at the right; false if it does not fit the window's height.
bool layoutLandscape(CameraViewController& c, const ScreenExtras& e, CGSize size, const Metrics& m) {
    const double column = std::clamp(size.width * 0.3, narrowestColumn, widestColumn);
    const double x = size.width - column - margin;
    const double assists = assistHeight(c, m, column);
    const double needed =
        m.title + m.readout + focusHeight(m) + exposureHeight(m) + assists + m.shutter + 5 * gap;
    if (needed > size.height - 2 * margin && &m != &compact)
        return false;
    const Placement p{c, e, m};
    c.filterNameLabel->setFrame(CGRectMake(x, margin, column, m.title));
    stackBlocks(x, margin + m.title + gap, column, p.readouts(), p.group(c.focusControlsView, focusHeight(m)),
                p.group(c.exposureControlsView, exposureHeight(m)), p.assists(assists));
    placeShutterRow(e, x, size.height - margin - m.shutter, column, m);
    c.renderView->setFrame(fitPicture(CGRectMake(0, 0, x - margin, size.height)));
    return true;
}

// The filter name over the picture, and the panel in two columns under it: the readouts,
// focus and assists at the left, exposure and the shutter at the right. The picture
// takes what the panel leaves, up to a 4:3 box as wide as the window.
bool layoutPortrait(CameraViewController& c, const ScreenExtras& e, CGSize size, const Metrics& m) {
    const double column = (size.width - 3 * margin) / 2;
    const double assists = assistHeight(c, m, column);
    const double left = m.readout + focusHeight(m) + assists + 2 * gap;
    const double right = exposureHeight(m) + m.shutter + gap;
    const double top = margin + m.title + gap / 2;
    const double picture =
        std::min(size.width * 3.0 / 4.0, size.height - top - gap - std::max(left, right) - margin);
    if (picture < size.height / 4 && &m != &compact)
        return false;
    const Placement p{c, e, m};
    c.filterNameLabel->setFrame(CGRectMake(margin, margin, size.width - 2 * margin, m.title));
    c.renderView->setFrame(fitPicture(CGRectMake(0, top, size.width, picture)));
    const double y = top + picture + gap;
    stackBlocks(margin, y, column, p.readouts(), p.group(c.focusControlsView, focusHeight(m)),
                p.assists(assists));
    stackBlocks(2 * margin + column, y, column, p.group(c.exposureControlsView, exposureHeight(m)),
                p.shutterRow());
    return true;
}

} // namespace

void layoutCameraScreen(CameraViewController& c, const ScreenExtras& e, CGSize size) {
    const bool portrait = size.height > size.width;
    for (const Metrics* m : {&regular, &compact}) {
        sizeRows(*c.focusControlsView, *m);
        sizeRows(*c.exposureControlsView, *m);
        if (portrait ? layoutPortrait(c, e, size, *m) : layoutLandscape(c, e, size, *m))
            break;
    }
    const CGRect picture = c.renderView->frame();
    // Over the whole picture, dimming it, when the camera is away.
    c.cameraUnavailableLabel->setFrame(CGRectMake(0, 0, picture.size.width, picture.size.height));
    placeAssistPanels(c, picture);
    // Above the histogram where it shows, so that neither hides the other.
    if (e.cameraPanel)
        placeCameraPanel(*e.cameraPanel, picture,
                         c.histogramView->isHidden() ? CGRectGetMaxY(picture)
                                                     : CGRectGetMinY(c.histogramView->frame()));
}
