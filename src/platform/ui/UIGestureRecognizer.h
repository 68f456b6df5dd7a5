#pragma once
// Gesture recognizers, fed by touch sequences (UIEvent) that the window routes to the
// recognizers of the touched view and its ancestors.
//
// - Tap: numberOfTapsRequired taps, each a touch that ends within 0.5 s and 10 points of
//   where it began, successive taps less than 0.35 s apart. A tap recognizer that another
//   recognizer must wait for (see below) fires only once that one has failed.
// - Swipe: one touch moving at least 50 points in its direction within 0.5 s, mostly along it.
// - Pinch: two touches; began when both are down and have moved, changed on every move
//   (scale = distance now / distance at the start, times the scale set back by the
//   action), ended when a touch lifts.
// Failure rule: before a recognizer fires, the UI kit asks each delegate
// shouldBeRequiredToFailByGestureRecognizer(a, b); true means b waits until a has failed.
// Timers (the end of a tap sequence) run on the main queue.
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "media/CGGeometry.h"

class UIView;
class UIGestureRecognizer;

enum class UITouchPhase { began, moved, ended, cancelled };
struct UITouch {
    int identifier = 0;
    CGPoint location; // root view coordinates
};
struct UIEvent {
    UITouchPhase phase = UITouchPhase::began;
    std::vector<UITouch> touches; // the touches whose phase this is
    double timestamp = 0;         // seconds, monotonic
};

enum class UIGestureRecognizerState : int { possible = 0, began = 1, changed = 2, ended = 3, cancelled = 4, failed = 5 };

class UIGestureRecognizerDelegate {
public:
    virtual ~UIGestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(UIGestureRecognizer&, UIGestureRecognizer&) {
        return false;
    }
};

class UIGestureRecognizer : public std::enable_shared_from_this<UIGestureRecognizer> {
public:
    using Action = std::function<void(UIGestureRecognizer& sender)>;
    virtual ~UIGestureRecognizer();

    void addTarget(Action action);
    UIGestureRecognizerState state() const { return state_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // Not owned: the delegate outlives its recognizers (the controller owns the view tree).
    UIGestureRecognizerDelegate* delegate() const { return delegate_; }
    void setDelegate(UIGestureRecognizerDelegate* d) { delegate_ = d; }
    UIView* view() const { return view_; }

    // Called by the window with each event for a view this recognizer is attached to.
    virtual void handleEvent(const UIEvent& event) = 0;
    virtual const char* className() const = 0;

protected:
    UIGestureRecognizer() = default;
    void setState(UIGestureRecognizerState s) { state_ = s; }
    void sendActions();
    // Recognizers that must fail before this one may fire, by the delegates' rule.
    std::vector<std::shared_ptr<UIGestureRecognizer>> recognizersToWaitFor();
    // Tells recognizers waiting on this one that it has failed.
    void didFail();
    virtual void waitedForRecognizerFailed() {}

private:
    friend class UIView;
    UIView* view_ = nullptr;
    std::vector<Action> actions_;
    UIGestureRecognizerState state_ = UIGestureRecognizerState::possible;
    bool enabled_ = true;
    UIGestureRecognizerDelegate* delegate_ = nullptr;
};

class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr double maximumTapDuration = 0.5, maximumTapInterval = 0.35, allowableMovement = 10;
    int numberOfTapsRequired = 1;
    void handleEvent(const UIEvent& event) override;
    const char* className() const override { return "UITapGestureRecognizer"; }

protected:
    void waitedForRecognizerFailed() override;

private:
    void fail();
    void recognizeOrWait();
    int tapCount_ = 0;
    CGPoint downAt_{};
    double downTime_ = 0, lastUpTime_ = 0;
    bool touching_ = false, waiting_ = false;
    unsigned generation_ = 0; // invalidates timers of earlier sequences
};

enum class UISwipeGestureRecognizerDirection { right = 1, left = 2, up = 4, down = 8 };

class UISwipeGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr double minimumDistance = 50, maximumDuration = 0.5;
    UISwipeGestureRecognizerDirection direction = UISwipeGestureRecognizerDirection::right;
    void handleEvent(const UIEvent& event) override;
    const char* className() const override { return "UISwipeGestureRecognizer"; }

private:
    CGPoint start_{};
    double startTime_ = 0;
    bool tracking_ = false;
};

class UIPinchGestureRecognizer : public UIGestureRecognizer {
public:
    double scale() const { return scale_; }
    void setScale(double s);
    void handleEvent(const UIEvent& event) override;
    const char* className() const override { return "UIPinchGestureRecognizer"; }

private:
    std::vector<UITouch> touches_;
    double startDistance_ = 0, scaleBase_ = 1, scale_ = 1;
};
