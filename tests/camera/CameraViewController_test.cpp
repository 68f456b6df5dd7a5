// The controller's construction: both initialisers, the carousel and the segments.
#include <gtest/gtest.h>

#include <sstream>

#include "camera/CameraViewController.h"

namespace {
void expectInitialState(const CameraViewController& c) {
    EXPECT_FALSE(c.camera);
    EXPECT_FALSE(c.spinner);
    EXPECT_EQ(c.selectedFilterIndex.load(), 0);
    EXPECT_TRUE(c.hideControls);
    EXPECT_FALSE(c.alreadyCapturing);
    EXPECT_FALSE(c._isBusyProcessingCapture.load());
    EXPECT_EQ(c.dropCount.load(), 0);
    EXPECT_TRUE(c.keyValueObservations.empty());
    EXPECT_FALSE(c.tapGestureRecognizers()); // nothing connected: no array at all
    EXPECT_EQ(c.luminosityLabel, nullptr);
    EXPECT_EQ(c.renderView, nullptr);
    EXPECT_EQ(c.fbSize.width, 640.0f);
    EXPECT_EQ(c.fbSize.height, 480.0f);
    EXPECT_TRUE(c.blendFilter);
    EXPECT_EQ(c.sessionQueue->label(), "session");
    EXPECT_FALSE(c.view());
}
} // namespace

TEST(CameraViewController, BothInitialisersLeaveTheSameState) {
    auto fromCoder = std::make_shared<CameraViewController>(NSCoder("Main"));
    auto fromNib = std::make_shared<CameraViewController>(std::nullopt, &NSBundle::mainBundle());
    expectInitialState(*fromCoder);
    expectInitialState(*fromNib);
    EXPECT_NE(fromCoder->sessionQueue, fromNib->sessionQueue);
    EXPECT_NE(fromCoder->blendFilter, fromNib->blendFilter);
}

TEST(CameraViewController, HoldsTheSixFiltersInOrder) {
    CameraViewController c{NSCoder("Main")};
    using T = CarouselItem::ItemType;
    const std::vector<std::pair<std::string, T>> expected{
        {"Normal", T::none},          {"Canny Edge Detector", T::cannyEdge}, {"Sobel Edge Detector", T::sobelEdge},
        {"Color Inversion", T::colorInvert}, {"False Color", T::falseColor},  {"Just Luminance", T::luminance}};
    ASSERT_EQ(c.filterCarousel.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(c.filterCarousel[i].name, expected[i].first);
        EXPECT_EQ(c.filterCarousel[i].ftype, expected[i].second);
    }
}

TEST(CameraViewController, SegmentsComeOnlyFromZeroToThreeAndPrintTheirNames) {
    using S = CameraViewController::focusModeControlSegment;
    EXPECT_FALSE(CameraViewController::makeSegment(-1));
    EXPECT_FALSE(CameraViewController::makeSegment(4));
    std::ostringstream names;
    for (long i = 0; i < 4; ++i) names << *CameraViewController::makeSegment(i) << " ";
    EXPECT_EQ(names.str(), "locked manual auto continuous ");
    EXPECT_EQ(CameraViewController::makeSegment(1), S::manual);
}

TEST(CameraViewController, OutletCollectionIsCopiedOrAbsent) {
    CameraViewController c{NSCoder("Main")};
    auto tap = std::make_shared<UITapGestureRecognizer>();
    c.setTapGestureRecognizers(std::vector<std::shared_ptr<UITapGestureRecognizer>>{tap});
    auto copy = c.tapGestureRecognizers();
    ASSERT_TRUE(copy);
    copy->clear();
    EXPECT_EQ(c.tapGestureRecognizers()->size(), 1u);
    c.setTapGestureRecognizers(std::nullopt);
    EXPECT_FALSE(c.tapGestureRecognizers());
}
