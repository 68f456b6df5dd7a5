// The camera screen laid out for every window a desktop gives it, from the smallest the
// window allows to 4K, landscape and portrait, with the control groups open in each
// exposure mode and a camera panel longer than the picture: every visible view lies inside
// the window, no two overlap (only the picture's overlays lie on the picture), and a click
// in the middle of each control reaches that control. The panel scrolls to its last row.
#include "app/ScreenLayout.h"
#include "host/script/ViewSearch.h"
#include "support/ScreenFixture.h"
#include "ui/UISwitchAndStepper.h"

namespace {

// The part of `view` a person sees: a scrolling stack shows only what lies in its frame.
CGRect shown(const UIView& view) {
    CGRect f = view.frameInRoot();
    for (const UIView* above = view.superview(); above; above = above->superview())
        if (auto* stack = dynamic_cast<const UIStackView*>(above); stack && stack->scrolls)
            f = CGRectIntersection(f, stack->frameInRoot());
    return f;
}

// The picture's overlays: views that are not controls, and the scrolling panel's rows.
bool overlay(const UIView& view) {
    auto* stack = dynamic_cast<const UIStackView*>(view.superview());
    return !dynamic_cast<const UIControl*>(&view) || (stack && stack->scrolls);
}

void collectVisible(UIView& view, std::vector<UIView*>& out) {
    if (view.isHidden() || CGRectIsEmpty(shown(view)))
        return;
    if (!view.identifier().empty())
        out.push_back(&view);
    for (const auto& child : view.subviews())
        collectVisible(*child, out);
}

bool within(CGRect inner, CGRect outer) {
    constexpr double slack = 1e-9; // the sums of a frame's origin and size round
    return CGRectGetMinX(inner) >= CGRectGetMinX(outer) - slack &&
           CGRectGetMinY(inner) >= CGRectGetMinY(outer) - slack &&
           CGRectGetMaxX(inner) <= CGRectGetMaxX(outer) + slack &&
           CGRectGetMaxY(inner) <= CGRectGetMaxY(outer) + slack;
}

// Everything that is wrong with the screen laid out at `size`, one line each.
std::vector<std::string> layoutFaults(UIView& root, UIView& picture, CGSize size) {
    root.setFrame(CGRectMake(0, 0, size.width, size.height));
    root.layoutSubviews();
    std::vector<UIView*> views;
    for (const auto& child : root.subviews())
        collectVisible(*child, views);
    std::vector<std::string> faults;
    for (size_t i = 0; i < views.size(); ++i) {
        UIView& a = *views[i];
        const CGRect f = shown(a);
        if (!within(f, root.frame()) || CGRectIsEmpty(f))
            faults.push_back(a.identifier() + " is not wholly inside the window");
        if (dynamic_cast<UIControl*>(&a)) {
            const CGPoint centre{f.origin.x + f.size.width / 2, f.origin.y + f.size.height / 2};
            UIView* hit = root.hitTest(centre);
            if (!hit || !hit->isDescendantOfView(&a))
                faults.push_back("a click on " + a.identifier() + " reaches " +
                                 (hit ? hit->identifier() : "nothing"));
        }
        for (size_t j = i + 1; j < views.size(); ++j) {
            UIView& b = *views[j];
            if (a.isDescendantOfView(&b) || b.isDescendantOfView(&a) ||
                CGRectIsEmpty(CGRectIntersection(f, shown(b))))
                continue;
            UIView* other = &a == &picture ? &b : &b == &picture ? &a : nullptr;
            if (other && overlay(*other) && within(shown(*other), picture.frameInRoot()))
                continue;
            faults.push_back(a.identifier() + " overlaps " + b.identifier());
        }
    }
    return faults;
}

} // namespace

using ScreenLayout = ScreenFixture;

TEST_F(ScreenLayout, EveryWindowSizeFromTheSmallestTo4KHoldsTheWholePanelWithoutOverlaps) {
    load();
    screen->DoubleTapEventHandler(*screen->doubleTapRecognizer); // the control groups open
    screen->focusModeControl->touchSegment(1);                   // the lens position's slider
    for (UISwitch* assist : {screen->histogramSwitch, screen->waveformSwitch})
        assist->flipTo(true); // the panels over the picture
    auto* panel = host::findView<UIStackView>(*screen->view(), "cameraPanelView");
    ASSERT_TRUE(panel && panel->scrolls);
    panel->setHidden(false);
    for (int row = 0; row < 40; ++row) {
        auto control = std::make_shared<UISwitch>("Control " + std::to_string(row));
        control->setIdentifier("panelRow" + std::to_string(row));
        control->setFrame(CGRectMake(0, 0, 10, 26));
        panel->addSubview(std::move(control));
    }
    // The smallest, then landscape, almost square and portrait.
    const double w = minimumScreenSize.width, h = minimumScreenSize.height;
    const std::vector<CGSize> sizes{{w, h},       {w, h + 1},  {w + 1, h},   {1024, 576},  {1092, 614},
                                    {1280, 720},  {1366, 768}, {1920, 1080}, {3840, 2160}, {2400, h},
                                    {w + 1, w},   {w, w + 1},  {720, 1280},  {768, 1024},  {1080, 1920},
                                    {2160, 3840}, {w, 1600},   {1500, 1600}};
    // Each exposure mode shows its own sliders: locked, custom, auto and continuous.
    for (int mode = 0; mode < screen->exposureModeControl->numberOfSegments(); ++mode) {
        screen->exposureModeControl->touchSegment(mode);
        DispatchQueue::main().drain();
        for (CGSize size : sizes) {
            SCOPED_TRACE(std::to_string(int(size.width)) + " x " + std::to_string(int(size.height)) +
                         ", mode " + std::to_string(mode));
            EXPECT_EQ(layoutFaults(*screen->view(), *screen->renderView, size), std::vector<std::string>{});
        }
    }
    screen->view()->setFrame(CGRectMake(0, 0, w, h));
    screen->view()->layoutSubviews();
    panel->scrollBy(1e6);
    EXPECT_TRUE(within(panel->subviews().back()->frameInRoot(), panel->frameInRoot()));
    EXPECT_GT(panel->contentOffset(), 0);
}
