// The camera screen's life: loading, the filter carousel and the graph it builds,
// appearing and disappearing.
#include "support/ScreenFixture.h"

namespace {
std::shared_ptr<ImageSource> onlySource(ImageConsumer& consumer) {
    auto sources = consumer.sources();
    std::erase(sources, nullptr);
    return sources.size() == 1 ? sources.front() : nullptr;
}

// What the carousel printed: the swipes and the configurations they led to.
std::vector<std::string> carouselLines(const PrintCapture& printed) {
    std::vector<std::string> out;
    for (auto& line : printed.lines())
        if (line.starts_with("configuring") || line.starts_with("swipe"))
            out.push_back(line);
    return out;
}

// The Normal graph: camera and outline lines blended into the view.
void expectNormalGraph(CameraViewController& screen) {
    EXPECT_EQ(screen.blendFilter->sources(),
              (std::vector<std::shared_ptr<ImageSource>>{screen.camera, screen.lineGenerator()}));
    EXPECT_EQ(onlySource(*screen.renderView), std::static_pointer_cast<ImageSource>(screen.blendFilter));
}
} // namespace

using CameraScreen = ScreenFixture;

TEST_F(CameraScreen, LoadingBuildsTheNormalGraphAndHidesTheControls) {
    screen->viewDidLoad();
    EXPECT_TRUE(screen->hideControls);
    EXPECT_TRUE(screen->focusControlsView->isHidden());
    EXPECT_TRUE(screen->exposureControlsView->isHidden());
    EXPECT_EQ(screen->filterNameLabel->text(), "Normal");
    EXPECT_EQ(carouselLines(printed), std::vector<std::string>{"configuring for normal operation"});
    ASSERT_TRUE(screen->spinner);
    EXPECT_EQ(screen->spinner->superview(), static_cast<UIView*>(screen->renderView));
    EXPECT_FALSE(screen->spinner->isAnimating());
    EXPECT_TRUE(screen->alreadyCapturing);
    EXPECT_TRUE(screen->camera->isCapturing());
    expectNormalGraph(*screen);
}

TEST_F(CameraScreen, SwipesStepThroughTheCarouselWithWrapAroundAndBuildEachGraph) {
    load();
    auto camera = screen->camera;
    UISwipeGestureRecognizer sender;
    printed.clear();
    screen->swipeLeft(sender);
    EXPECT_EQ(screen->selectedFilterIndex.load(), 5);
    EXPECT_EQ(screen->filterNameLabel->text(), "Just Luminance");
    EXPECT_EQ(carouselLines(printed),
              (std::vector<std::string>{"swipe left", "configuring for luminance filter"}));
    screen->swipeRight(sender);
    EXPECT_EQ(screen->selectedFilterIndex.load(), 0);
    const std::pair<const char*, const char*> filters[] = {
        {"Canny Edge Detector", "configuring for Canny Edge"},
        {"Sobel Edge Detector", "configuring for Sobel Edge"},
        {"Color Inversion", "configuring for color inversion filter"},
        {"False Color", "configuring for false color filter"},
        {"Just Luminance", "configuring for luminance filter"}};
    for (auto [name, line] : filters) {
        printed.clear();
        screen->swipeRight(sender);
        EXPECT_EQ(screen->filterNameLabel->text(), name);
        EXPECT_EQ(screen->luminosityLabel->text(), "");
        EXPECT_EQ(carouselLines(printed), (std::vector<std::string>{"swipe right", line}));
        // One operation between the camera and the view.
        auto operation = onlySource(*screen->renderView);
        ASSERT_TRUE(operation);
        EXPECT_NE(operation, std::static_pointer_cast<ImageSource>(screen->blendFilter));
        EXPECT_EQ(onlySource(*std::dynamic_pointer_cast<ImageConsumer>(operation)),
                  std::static_pointer_cast<ImageSource>(screen->camera));
        EXPECT_EQ(screen->camera->targetCount(), 1u);
    }
    screen->swipeRight(sender); // round to Normal, whole again
    EXPECT_EQ(screen->filterNameLabel->text(), "Normal");
    expectNormalGraph(*screen);
    EXPECT_EQ(screen->camera, camera); // made once
}

TEST_F(CameraScreen, AppearingArmsTheTapRecognizersAndDisappearingStopsCaptureUntilTheNextSwipe) {
    load();
    for (int round = 0; round < 2; ++round) {
        screen->singleTapRecognizer->setEnabled(false);
        screen->doubleTapRecognizer->setDelegate(nullptr);
        screen->viewWillAppear(false);
        EXPECT_TRUE(screen->singleTapRecognizer->isEnabled());
        EXPECT_TRUE(screen->doubleTapRecognizer->isEnabled());
        for (auto* recognizer : {screen->singleTapRecognizer.get(), screen->doubleTapRecognizer.get()})
            EXPECT_EQ(recognizer->delegate(), static_cast<UIGestureRecognizerDelegate*>(screen.get()));
    }
    screen->viewWillDisappear(false);
    EXPECT_FALSE(screen->camera->isCapturing());
    EXPECT_EQ(screen->camera->targetCount(), 0u);
    EXPECT_EQ(observationCount(), 0u);
    screen->viewWillAppear(false);
    EXPECT_FALSE(screen->camera->isCapturing());
    UISwipeGestureRecognizer sender;
    screen->swipeRight(sender);
    EXPECT_TRUE(screen->camera->isCapturing());
    EXPECT_EQ(observationCount(), 9u);
}
