// Made-up touches must read, to the recognizers, as the gestures they stand for (that a
// script's swipes, taps and pinches do is HeadlessRun's to show); the letterbox must put
// a window's pixels on the right root points.
#include <gtest/gtest.h>

#include <cmath>

#include "host/Letterbox.h"
#include "host/TouchSynthesis.h"

namespace {

double distance(const UIEvent& event) {
    return std::hypot(event.touches.at(0).location.x - event.touches.at(1).location.x,
                      event.touches.at(0).location.y - event.touches.at(1).location.y);
}

// Began, then only moves, then ended, in time order.
void expectOneSequence(const std::vector<UIEvent>& events) {
    ASSERT_GE(events.size(), 2u);
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].phase, i == 0                   ? UITouchPhase::began
                                   : i + 1 == events.size() ? UITouchPhase::ended
                                                            : UITouchPhase::moved);
        EXPECT_LE(events[i ? i - 1 : 0].timestamp, events[i].timestamp) << i;
    }
}

TEST(TouchSynthesis, PinchesEndAtTheAskedScaleWithBothFingersMoving) {
    for (double scale : {0.01, 0.5, 2.0, 100.0}) {
        auto events = host::pinchEvents({195, 422}, scale, 0);
        ASSERT_GE(events.size(), 7u);
        expectOneSequence(events);
        for (const auto& event : events)
            ASSERT_EQ(event.touches.size(), 2u);
        EXPECT_NE(events.front().touches[0].identifier, events.front().touches[1].identifier);
        EXPECT_NEAR(distance(events[events.size() - 2]) / distance(events.front()), scale, scale * 1e-9);
    }
}

TEST(TouchSynthesis, TheClockNeverRunsBackwardsYetKeepsTheGapsBetweenRealTouches) {
    host::TouchClock clock;
    const double now = host::TouchClock::now();
    const double first = clock.reserve(5); // a sequence stamped five seconds ahead
    EXPECT_GE(first, now);
    const double down = clock.stamp(now + 0.01), up = clock.stamp(now + 0.06);
    EXPECT_GE(down, first + 5);
    EXPECT_NEAR(up - down, 0.05, 1e-9); // a real tap stays a 50 ms tap
    EXPECT_GE(clock.stamp(now), up);    // a late report of an earlier touch does not go back
}

TEST(Letterbox, FitsTheRootCentredAndMapsBothWays) {
    auto tall = host::Letterbox::fit({390, 844}, 780, 2000); // bars above and below
    EXPECT_DOUBLE_EQ(tall.scale, 2);
    EXPECT_DOUBLE_EQ(tall.offsetX, 0);
    EXPECT_DOUBLE_EQ(tall.offsetY, (2000 - 1688) / 2.0);
    auto wide = host::Letterbox::fit({390, 844}, 1000, 844); // bars left and right
    EXPECT_DOUBLE_EQ(wide.scale, 1);
    EXPECT_DOUBLE_EQ(wide.offsetX, 305);
    const CGPoint corner = wide.toRoot({305, 0});
    EXPECT_DOUBLE_EQ(corner.x, 0);
    EXPECT_DOUBLE_EQ(corner.y, 0);
    const CGPoint back = tall.toSurface(tall.toRoot({123, 456}));
    EXPECT_DOUBLE_EQ(back.x, 123);
    EXPECT_DOUBLE_EQ(back.y, 456);
    EXPECT_DOUBLE_EQ(host::Letterbox::fit({390, 844}, 0, 0).scale,
                     1); // a minimised window maps nothing oddly
}

} // namespace
