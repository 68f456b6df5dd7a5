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
// Discrete recognizers (tap, swipe) fire once, in state `ended`; a failed one reports
// `failed`. A recognizer's last state stays readable until its next touch sequence begins.
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

enum class UIGestureRecognizerState : int {
    possible = 0,
    began = 1,
    changed = 2,
    ended = 3,
    cancelled = 4,
    failed = 5
};

class UIGestureRecognizerDelegate {
  public:
    virtual ~UIGestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(UIGestureRecognizer&,
                                                                            UIGestureRecognizer&) {
        return false;
    }
};

class UIGestureRecognizer : public std::enable_shared_from_this<UIGestureRecognizer> {
  public:
    using Action = std::function<void(UIGestureRecognizer& sender)>;
    virtual ~UIGestureRecognizer();

    void addTarget(Action action);
    UIGestureRecognizerState state() const;
    bool isEnabled() const;
    // Disabling drops the gesture in progress: a continuous one that had begun is
    // cancelled (its action sees `cancelled`), and recognizers waiting for this one stop
    // waiting as if it had failed.
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
    void setState(UIGestureRecognizerState s);
    // A recognizer's final state (ended, cancelled, failed) stays readable until the next
    // touch sequence; call this when one begins.
    void resetStateForNewSequence();
    void sendActions();
    // Recognizers that must fail before this one may fire, by the delegates' rule: only
    // enabled ones of the same view tree that are busy with a gesture right now.
    std::vector<std::shared_ptr<UIGestureRecognizer>> recognizersToWaitFor();
    // Starts waiting for `others`; false (nothing to wait for) means fire now.
    bool waitFor(const std::vector<std::shared_ptr<UIGestureRecognizer>>& others);
    bool isWaiting() const { return !waitingFor_.empty(); }
    void stopWaiting();
    // Tells recognizers waiting on this one that it has failed.
    void didFail();
    // Tells recognizers waiting on this one that it has recognized, so they fail.
    void didRecognize();
    // Every recognizer this one waited for has failed.
    virtual void waitedForRecognizerFailed() {}
    // A recognizer this one waited for has recognized.
    virtual void waitedForRecognizerRecognized() {}
    // Busy with a gesture: touches down, a tap sequence under way, or waiting to fire.
    virtual bool isInProgress() const { return false; }
    // Forgets the gesture in progress (on disabling); the state is left alone.
    virtual void reset() {}

  private:
    friend class UIView;
    bool isWaitingFor(const UIGestureRecognizer* other) const;
    UIView* view_ = nullptr;
    std::vector<Action> actions_;
    UIGestureRecognizerState state_ = UIGestureRecognizerState::possible;
    bool enabled_ = true;
    UIGestureRecognizerDelegate* delegate_ = nullptr;
    std::vector<std::weak_ptr<UIGestureRecognizer>> waitingFor_; // what must fail before this fires
    std::vector<std::weak_ptr<UIGestureRecognizer>> waiters_;    // who waits for this one
};

class UITapGestureRecognizer : public UIGestureRecognizer {
  public:
    static constexpr double maximumTapDuration = 0.5, maximumTapInterval = 0.35, allowableMovement = 10;
    int numberOfTapsRequired = 1;
    void handleEvent(const UIEvent& event) override;
    const char* className() const override { return "UITapGestureRecognizer"; }

  protected:
    void waitedForRecognizerFailed() override;
    void waitedForRecognizerRecognized() override;
    bool isInProgress() const override;
    void reset() override;

  private:
    void touchBegan(const UITouch& touch, double timestamp);
    void follow(const UITouch& touch, double timestamp);
    void touchEnded(const UITouch& touch, double timestamp);
    void fail();
    void recognize();
    void recognizeOrWait();
    int tapCount_ = 0;
    int touchId_ = 0;
    CGPoint downAt_{};
    double downTime_ = 0, lastUpTime_ = 0;
    bool touching_ = false;
    unsigned generation_ = 0; // invalidates timers of earlier sequences
};

enum class UISwipeGestureRecognizerDirection { right = 1, left = 2, up = 4, down = 8 };

class UISwipeGestureRecognizer : public UIGestureRecognizer {
  public:
    static constexpr double minimumDistance = 50, maximumDuration = 0.5;
    UISwipeGestureRecognizerDirection direction = UISwipeGestureRecognizerDirection::right;
    void handleEvent(const UIEvent& event) override;
    const char* className() const override { return "UISwipeGestureRecognizer"; }

  protected:
    void waitedForRecognizerFailed() override;
    void waitedForRecognizerRecognized() override;
    bool isInProgress() const override;
    void reset() override;

  private:
    void follow(CGPoint p, double timestamp);
    void fail();
    void recognize();
    CGPoint start_{};
    double startTime_ = 0;
    int touchId_ = 0;
    bool tracking_ = false;
};

class UIPinchGestureRecognizer : public UIGestureRecognizer {
  public:
    double scale() const { return scale_; }
    // Makes `s` the scale now: later events multiply it by the change in distance since.
    void setScale(double s);
    void handleEvent(const UIEvent& event) override;
    const char* className() const override { return "UIPinchGestureRecognizer"; }

  protected:
    void waitedForRecognizerFailed() override;
    void waitedForRecognizerRecognized() override;
    bool isInProgress() const override;
    void reset() override;

  private:
    double distance() const;
    void updateScale();
    void beginPinch();
    void lift(const UIEvent& event);
    std::vector<UITouch> touches_; // at most two: the pinching fingers
    double startDistance_ = 0, scaleBase_ = 1, scale_ = 1;
};
