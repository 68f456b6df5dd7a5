// The camera screen's life: loading, the filter carousel and the graph it builds,
// appearing and disappearing.
#include <gtest/gtest.h>

#include "support/ScreenFixture.h"

namespace {
std::vector<std::string> configuringLines(const PrintCapture& printed) {
    std::vector<std::string> out;
    for (auto& line : printed.lines())
        if (line.rfind("configuring", 0) == 0 || line.rfind("swipe", 0) == 0) out.push_back(line);
    return out;
}

// The tokens live on the session queue; read them there.
size_t observationCount(CameraViewController& screen) {
    size_t count = 0;
    screen.sessionQueue->sync([&] { count = screen.keyValueObservations.size(); });
    return count;
}

std::shared_ptr<ImageSource> onlySource(ImageConsumer& consumer) {
    auto sources = consumer.sources();
    std::erase(sources, nullptr);
    return sources.size() == 1 ? sources.front() : nullptr;
}
} // namespace

using CameraScreen = ScreenFixture;

TEST_F(CameraScreen, LoadingBuildsTheNormalGraphAndHidesTheControls) {
    screen->viewDidLoad();
    EXPECT_TRUE(screen->hideControls);
    EXPECT_TRUE(screen->focusControlsView->isHidden());
    EXPECT_TRUE(screen->exposureControlsView->isHidden());
    EXPECT_EQ(screen->filterNameLabel->text(), "Normal");
    EXPECT_EQ(screen->luminosityLabel->text(), ""); // no main-queue work has run yet
    EXPECT_EQ(printed.count("configuring for normal operation"), 1u);
    ASSERT_TRUE(screen->spinner);
    EXPECT_EQ(screen->spinner->superview(), static_cast<UIView*>(screen->renderView));
    EXPECT_EQ(screen->spinner->color(), UIColor::yellowColor());
    EXPECT_EQ(screen->spinner->style(), UIActivityIndicatorViewStyle::large);
    EXPECT_FALSE(screen->spinner->isAnimating());
    EXPECT_TRUE(screen->alreadyCapturing);
    EXPECT_TRUE(screen->camera->isCapturing());

    auto blendSources = screen->blendFilter->sources();
    ASSERT_EQ(blendSources.size(), 2u);
    EXPECT_EQ(blendSources[0], std::static_pointer_cast<ImageSource>(screen->camera));
    EXPECT_EQ(blendSources[1], std::static_pointer_cast<ImageSource>(screen->lineGenerator()));
    EXPECT_EQ(onlySource(*screen->renderView), std::static_pointer_cast<ImageSource>(screen->blendFilter));

    // Observers are registered before the start-up focus chain, which ends with the
    // lens locked at 0.3 and the focus control on "locked".
    flush(*screen->sessionQueue);
    runMainUntil([&] { return printed.countStartingWith("focus set to manual at 0.300 at time ") == 1; });
    runMainUntil([&] { return screen->focusModeControl->selectedSegmentIndex() == 0; });
    EXPECT_FLOAT_EQ(device->lensPosition(), 0.3f);
    EXPECT_EQ(observationCount(*screen), 9u);
    auto lines = printed.lines();
    auto registered = std::find(lines.begin(), lines.end(), "focusMode changed to 2");
    auto locked = std::find_if(lines.begin(), lines.end(),
                               [](auto& l) { return l.rfind("focus set to manual", 0) == 0; });
    EXPECT_LT(registered, locked);
}

TEST_F(CameraScreen, SwipesStepThroughTheCarouselWithWrapAround) {
    load();
    auto camera = screen->camera;
    UISwipeGestureRecognizer sender;
    const std::vector<std::string> names{"Normal",          "Canny Edge Detector", "Sobel Edge Detector",
                                         "Color Inversion", "False Color",         "Just Luminance"};
    screen->swipeLeft(sender);
    EXPECT_EQ(screen->selectedFilterIndex.load(), 5);
    EXPECT_EQ(screen->filterNameLabel->text(), "Just Luminance");
    screen->swipeRight(sender);
    EXPECT_EQ(screen->selectedFilterIndex.load(), 0);
    for (int i = 1; i <= 6; ++i) {
        screen->swipeRight(sender);
        EXPECT_EQ(screen->filterNameLabel->text(), names[size_t(i % 6)]);
        EXPECT_EQ(screen->luminosityLabel->text(), "");
        flush(*screen->sessionQueue);
        EXPECT_EQ(observationCount(*screen), 9u); // torn down and registered again
    }
    for (int i = 1; i <= 6; ++i) screen->swipeLeft(sender);
    EXPECT_EQ(screen->selectedFilterIndex.load(), 0);
    EXPECT_EQ(screen->camera, camera); // made once

    auto lines = configuringLines(printed);
    const std::vector<std::string> firstFour{"configuring for normal operation", "swipe left",
                                             "configuring for luminance filter", "swipe right"};
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4), firstFour);
    EXPECT_EQ(lines[4], "configuring for normal operation");
    EXPECT_EQ(lines[5], "swipe right");
    EXPECT_EQ(lines[6], "configuring for Canny Edge");
    EXPECT_EQ(lines[8], "configuring for Sobel Edge");
    EXPECT_EQ(lines[10], "configuring for color inversion filter");
    EXPECT_EQ(lines[12], "configuring for false color filter");
}

TEST_F(CameraScreen, EachFilterFeedsTheViewAndNormalComesBackWhole) {
    load();
    UISwipeGestureRecognizer sender;
    for (int i = 1; i < 6; ++i) {
        screen->swipeRight(sender);
        auto operation = onlySource(*screen->renderView);
        ASSERT_TRUE(operation);
        EXPECT_NE(operation, std::static_pointer_cast<ImageSource>(screen->blendFilter));
        auto consumer = std::dynamic_pointer_cast<ImageConsumer>(operation);
        ASSERT_TRUE(consumer);
        EXPECT_EQ(onlySource(*consumer), std::static_pointer_cast<ImageSource>(screen->camera));
        EXPECT_EQ(screen->camera->targetCount(), 1u);
    }
    screen->swipeRight(sender); // back to Normal
    auto blendSources = screen->blendFilter->sources();
    ASSERT_EQ(blendSources.size(), 2u);
    EXPECT_EQ(blendSources[0], std::static_pointer_cast<ImageSource>(screen->camera));
    EXPECT_EQ(blendSources[1], std::static_pointer_cast<ImageSource>(screen->lineGenerator()));
    EXPECT_EQ(onlySource(*screen->renderView), std::static_pointer_cast<ImageSource>(screen->blendFilter));
}

TEST_F(CameraScreen, AppearingArmsTheTapRecognizersEveryTime) {
    load();
    for (int round = 0; round < 2; ++round) {
        screen->singleTapRecognizer->setEnabled(false);
        screen->doubleTapRecognizer->setDelegate(nullptr);
        screen->viewWillAppear(false);
        EXPECT_TRUE(screen->singleTapRecognizer->isEnabled());
        EXPECT_TRUE(screen->doubleTapRecognizer->isEnabled());
        EXPECT_EQ(screen->singleTapRecognizer->delegate(), static_cast<UIGestureRecognizerDelegate*>(screen.get()));
        EXPECT_EQ(screen->doubleTapRecognizer->delegate(), static_cast<UIGestureRecognizerDelegate*>(screen.get()));
    }
}

TEST_F(CameraScreen, DisappearingStopsCaptureUntilTheNextSwipe) {
    load();
    screen->viewWillDisappear(false);
    EXPECT_FALSE(screen->camera->isCapturing());
    EXPECT_EQ(screen->camera->targetCount(), 0u);
    EXPECT_TRUE(screen->alreadyCapturing);
    EXPECT_EQ(observationCount(*screen), 0u);

    screen->viewWillAppear(false);
    EXPECT_FALSE(screen->camera->isCapturing());

    UISwipeGestureRecognizer sender;
    screen->swipeRight(sender);
    EXPECT_TRUE(screen->camera->isCapturing());
    EXPECT_EQ(observationCount(*screen), 9u);
}

TEST_F(CameraScreen, HasAFixedPortraitOrientation) {
    EXPECT_FALSE(screen->shouldAutorotate());
    EXPECT_EQ(screen->supportedInterfaceOrientations(), UIInterfaceOrientationMask::portrait);
}
