// The view tree and the main-thread checker. (Stack layout shows in the screen snapshots
// HeadlessRun reads; sliders are driven by the exposure and focus tests.)
#include <gtest/gtest.h>

#include <thread>

#include "ui/UIApplication.h"
#include "ui/UIControls.h"

namespace {

TEST(ViewTree, HitTestFindsTheDeepestVisibleViewWithTheLastAddedOnTop) {
    UIView root(CGRectMake(0, 0, 400, 800));
    auto panel = std::make_shared<UIView>(CGRectMake(100, 100, 200, 200));
    auto under = std::make_shared<UIView>(CGRectMake(10, 10, 50, 50));
    auto over = std::make_shared<UIView>(CGRectMake(30, 30, 50, 50));
    panel->addSubview(under);
    panel->addSubview(over);
    root.addSubview(panel);
    EXPECT_EQ(over->frameInRoot(), CGRectMake(130, 130, 50, 50));
    EXPECT_EQ(root.hitTest({135, 135}), over.get());
    EXPECT_EQ(root.hitTest({112, 112}), under.get());
    EXPECT_EQ(root.hitTest({250, 250}), panel.get());
    EXPECT_EQ(root.hitTest({500, 50}), nullptr);
    over->setHidden(true);
    EXPECT_EQ(root.hitTest({135, 135}), under.get());
    panel->setHidden(true);
    EXPECT_EQ(root.hitTest({135, 135}), &root);
    EXPECT_TRUE(under->isHiddenOnScreen());
    EXPECT_FALSE(under->isHidden());
}

TEST(ViewTree, AddingAViewMovesItAndRemovingLetsItGo) {
    UIView a, b;
    auto child = std::make_shared<UIView>();
    std::weak_ptr<UIView> watch = child;
    a.addSubview(child);
    b.addSubview(child);
    EXPECT_TRUE(a.subviews().empty());
    EXPECT_EQ(child->superview(), &b);
    child->addSubview(std::make_shared<UIView>());
    child->subviews().front()->addSubview(child); // into its own subtree: refused
    EXPECT_EQ(child->superview(), &b);
    child.reset();
    b.subviews().front()->removeFromSuperview();
    EXPECT_TRUE(watch.expired());
}

TEST(MainThreadChecker, UseOffTheMainThreadAbortsNamingTheCall) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    UILabel label;
    label.setText("on main");
    EXPECT_EQ(label.text(), "on main");
    EXPECT_DEATH(std::thread([&] { label.setText("elsewhere"); }).join(),
                 "UI kit: UILabel.setText used off the main thread");
    UIView view;
    EXPECT_DEATH(std::thread([&] { view.addSubview(std::make_shared<UIView>()); }).join(),
                 "UIView.addSubview used off the main thread");
}
} // namespace
