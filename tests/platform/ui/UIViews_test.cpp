// The view tree, stack layout, the controls and the main-thread checker.
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

TEST(StackView, LaysOutVisibleSubviewsAlongItsAxisAndNestedStacksInTheSamePass) {
    UIView root(CGRectMake(0, 0, 390, 844));
    auto stack = std::make_shared<UIStackView>(CGRectMake(10, 20, 300, 500));
    stack->spacing = 8;
    auto a = std::make_shared<UIView>(CGRectMake(0, 0, 50, 30));
    auto hidden = std::make_shared<UIView>(CGRectMake(0, 0, 50, 40));
    auto inner = std::make_shared<UIStackView>(CGRectMake(5, 5, 60, 20));
    auto leaf = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
    hidden->setHidden(true);
    inner->addSubview(leaf);
    for (auto& v : std::vector<std::shared_ptr<UIView>>{a, hidden, inner})
        stack->addSubview(v);
    root.addSubview(stack);
    root.layoutSubviews();
    EXPECT_EQ(a->frame(), CGRectMake(0, 0, 300, 30));
    EXPECT_EQ(inner->frame(), CGRectMake(0, 38, 300, 20));
    EXPECT_EQ(leaf->frame(), CGRectMake(0, 0, 300, 10));

    stack->axis = UILayoutConstraintAxis::horizontal;
    hidden->setHidden(false);
    stack->layoutSubviews();
    EXPECT_EQ(a->frame(), CGRectMake(0, 0, 300, 500)) << "keeps its width from the vertical pass";
    EXPECT_EQ(hidden->frame(), CGRectMake(308, 0, 50, 500));
    EXPECT_EQ(inner->frame(), CGRectMake(366, 0, 300, 500));
}

class Controls : public testing::Test {
  protected:
    void SetUp() override { window.addSubview(root); }
    void touch(CGPoint at, CGPoint liftAt) {
        window.sendEvent({UITouchPhase::began, {{7, at}}, 1.0});
        window.sendEvent({UITouchPhase::moved, {{7, liftAt}}, 1.1});
        window.sendEvent({UITouchPhase::ended, {{7, liftAt}}, 1.2});
    }
    UIWindow window;
    std::shared_ptr<UIView> root = std::make_shared<UIView>(window.frame());
    int actions = 0;
};

TEST_F(Controls, SliderClampsAndOnlyAPersonsChangeSendsTheAction) {
    auto slider = std::make_shared<UISlider>(CGRectMake(40, 100, 200, 30));
    slider->addTarget([this](UIControl&) { ++actions; }, UIControlEvents::valueChanged);
    slider->setMinimumValue(-2);
    slider->setMaximumValue(2);
    slider->setValue(5);
    EXPECT_FLOAT_EQ(slider->value(), 2);
    slider->setMaximumValue(1);
    EXPECT_FLOAT_EQ(slider->value(), 1) << "pulled into the narrower range";
    slider->setMinimumValue(3);
    EXPECT_FLOAT_EQ(slider->maximumValue(), 3);
    EXPECT_FLOAT_EQ(slider->value(), 3);
    slider->setMinimumValue(-2);
    EXPECT_EQ(actions, 0);
    slider->dragTo(-9);
    EXPECT_FLOAT_EQ(slider->value(), -2);
    EXPECT_EQ(actions, 1);

    // A touch through the window: the value follows x across the frame, in root coordinates.
    root->addSubview(slider);
    touch({100, 110}, {160, 110}); // range -2...3 now: 60% of the way
    EXPECT_FLOAT_EQ(slider->value(), 1);
    EXPECT_EQ(actions, 3);
    touch({500, 110}, {500, 110}); // began off the slider: not the slider's touch
    slider->setEnabled(false);
    slider->dragTo(0);
    touch({40, 110}, {40, 110});
    EXPECT_FLOAT_EQ(slider->value(), 1);
    EXPECT_EQ(actions, 3);
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
