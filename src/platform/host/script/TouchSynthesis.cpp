#include "host/script/TouchSynthesis.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace host {
namespace {

UIEvent event(UITouchPhase phase, std::vector<UITouch> touches, double timestamp) {
    return UIEvent{phase, std::move(touches), timestamp};
}

constexpr double swipeLength = 150, swipeSeconds = 0.15;
constexpr int swipeMoves = 4;
constexpr double tapSeconds = 0.05, doubleTapInterval = 0.1;
constexpr double pinchStartDistance = 100, pinchSeconds = 0.3;
constexpr int pinchMoves = 6;

} // namespace

std::vector<UIEvent> swipeEvents(CGPoint centre, UISwipeGestureRecognizerDirection direction,
                                 double startTime) {
    const double sign = direction == UISwipeGestureRecognizerDirection::right ? 1 : -1;
    const double startX = centre.x - sign * swipeLength / 2;
    std::vector<UIEvent> events;
    events.push_back(event(UITouchPhase::began, {{0, {startX, centre.y}}}, startTime));
    for (int step = 1; step <= swipeMoves; ++step) {
        const double fraction = static_cast<double>(step) / swipeMoves;
        events.push_back(event(UITouchPhase::moved, {{0, {startX + sign * swipeLength * fraction, centre.y}}},
                               startTime + swipeSeconds * fraction));
    }
    events.push_back(
        event(UITouchPhase::ended, {{0, {startX + sign * swipeLength, centre.y}}}, startTime + swipeSeconds));
    return events;
}

std::vector<UIEvent> tapEvents(CGPoint centre, double startTime) {
    return {event(UITouchPhase::began, {{0, centre}}, startTime),
            event(UITouchPhase::ended, {{0, centre}}, startTime + tapSeconds)};
}

std::vector<UIEvent> doubleTapEvents(CGPoint centre, double startTime) {
    auto events = tapEvents(centre, startTime);
    auto second = tapEvents(centre, startTime + doubleTapInterval);
    events.insert(events.end(), second.begin(), second.end());
    return events;
}

std::vector<UIEvent> pinchEvents(CGPoint centre, double scale, double startTime) {
    auto fingers = [&](double distance) {
        return std::vector<UITouch>{{1, {centre.x - distance / 2, centre.y}},
                                    {2, {centre.x + distance / 2, centre.y}}};
    };
    std::vector<UIEvent> events;
    events.push_back(event(UITouchPhase::began, fingers(pinchStartDistance), startTime));
    for (int step = 1; step <= pinchMoves; ++step) {
        const double fraction = static_cast<double>(step) / pinchMoves;
        // Geometric steps: each move changes the scale by the same factor, as a steady pinch does.
        events.push_back(event(UITouchPhase::moved, fingers(pinchStartDistance * std::pow(scale, fraction)),
                               startTime + pinchSeconds * fraction));
    }
    events.push_back(
        event(UITouchPhase::ended, fingers(pinchStartDistance * scale), startTime + pinchSeconds));
    return events;
}

double sequenceDuration(const std::vector<UIEvent>& events) {
    if (events.empty())
        return 0;
    return events.back().timestamp - events.front().timestamp;
}

double TouchClock::stamp(double time) {
    double stamped = time + shift_;
    if (stamped < last_) {
        shift_ += last_ - stamped;
        stamped = last_;
    }
    last_ = stamped;
    return stamped;
}

double TouchClock::reserve(double duration) {
    const double start = stamp(now());
    last_ = start + duration;
    return start;
}

double TouchClock::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace host
