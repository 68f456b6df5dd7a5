#pragma once
// The controls of the camera screen: label, slider, segmented control, stack view,
// activity indicator and button. Controls send their value-changed actions when a person (a touch)
// changes them; setting a value from code sends nothing, as on the phone.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/UIView.h"

enum class NSTextAlignment { left, center, right };

// A line of text in its frame, vertically centred and clipped to the frame. Its look
// (size in points, colour, alignment) is the interface description's to set.
class UILabel : public UIView {
  public:
    using UIView::UIView;
    const std::string& text() const;
    void setText(std::string text);
    double fontSize() const { return fontSize_; }
    void setFontSize(double points) { fontSize_ = points; }
    UIColor textColor() const { return textColor_; }
    void setTextColor(UIColor colour) { textColor_ = colour; }
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment) { alignment_ = alignment; }
    const char* className() const override { return "UILabel"; }

  private:
    std::string text_;
    double fontSize_ = 15;
    UIColor textColor_ = UIColor::whiteColor();
    NSTextAlignment alignment_ = NSTextAlignment::left;
};

enum class UIControlEvents { valueChanged, touchUpInside };

class UIControl : public UIView {
  public:
    using UIView::UIView;
    using Action = std::function<void(UIControl& sender)>;
    // The target is captured inside `action`; the control does not own it.
    void addTarget(Action action, UIControlEvents events);
    void sendActionsForControlEvents(UIControlEvents events);
    // A disabled control still takes the touches that land on it, but a person can no
    // longer change it: touches, dragTo and touchSegment do nothing.
    bool isEnabled() const;
    void setEnabled(bool enabled);
    bool handlesTouches() const override { return true; }

  private:
    std::vector<Action> valueChangedActions_;
    std::vector<Action> touchUpInsideActions_;
    bool enabled_ = true;
};

// How a button is drawn: its title in a rounded box, a camera's round shutter, or a record
// button (a red dot; selected, a stop square beside its title).
enum class UIButtonStyle { titled, shutter, record };

// A titled button: a touch that lifts inside its frame sends touchUpInside.
class UIButton : public UIControl {
  public:
    explicit UIButton(std::string title, UIButtonStyle style = UIButtonStyle::titled);
    const std::string& title() const;
    void setTitle(std::string title);
    UIButtonStyle style() const { return style_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);
    void touchEnded(CGPoint p) override;
    const char* className() const override { return "UIButton"; }

  private:
    std::string title_;
    UIButtonStyle style_;
    bool selected_ = false;
};

class UISlider : public UIControl {
  public:
    using UIControl::UIControl;
    float minimumValue() const;
    float maximumValue() const;
    float value() const;
    void setMinimumValue(float v); // a value outside the new range is pulled in
    void setMaximumValue(float v);
    void setValue(float v); // clamped into [minimum, maximum]
    // A person dragging the thumb: the value follows the touch across the frame (left edge
    // minimum, right edge maximum); each touch that changes the value sends the action.
    void touchBegan(CGPoint p) override;
    void touchMoved(CGPoint p) override;
    void touchEnded(CGPoint p) override;
    // A drag of the thumb to `v`, as a person makes it: sets the value (clamped) and sends
    // the action.
    void dragTo(float v);
    const char* className() const override { return "UISlider"; }

  private:
    void trackTo(CGPoint p);
    float minimum_ = 0, maximum_ = 1, value_ = 0.5f;
};

class UISegmentedControl : public UIControl {
  public:
    static constexpr int noSegment = -1;
    explicit UISegmentedControl(std::vector<std::string> titles);
    int numberOfSegments() const;
    const std::string& titleForSegment(int index) const;
    int selectedSegmentIndex() const;
    void setSelectedSegmentIndex(int index); // from code: no action; out of range selects none
    // A touch on segment `index`, as a person makes it: selects it and sends the action
    // (also when it was selected already). An index with no segment is no touch at all.
    void touchSegment(int index);
    // The segments split the frame's width evenly; a touch that lifts inside the frame
    // touches the segment under it.
    void touchEnded(CGPoint p) override;
    const char* className() const override { return "UISegmentedControl"; }

  private:
    std::vector<std::string> titles_;
    int selected_ = noSegment;
};

enum class UILayoutConstraintAxis { horizontal, vertical };

// Arranges its subviews along its axis, from its top (left) edge, `spacing` apart; hidden
// subviews take no room. Each keeps its own length along the axis and is stretched
// across the stack's other dimension. A horizontal stack that `wraps` starts a new line,
// `spacing` below, where the next view would cross its right edge; there each view keeps
// its own height.
class UIStackView : public UIView {
  public:
    using UIView::UIView;
    UILayoutConstraintAxis axis = UILayoutConstraintAxis::vertical;
    double spacing = 8;
    bool wraps = false;
    // A vertical stack whose subviews need more than its height scrolls them: they move up
    // by the content offset, and what lies outside its frame is neither drawn nor touched.
    // A drag on the stack between its subviews scrolls it too.
    bool scrolls = false;
    double contentOffset() const { return contentOffset_; }
    // Moves the content up by `points` (down when negative), as far as it goes.
    void scrollBy(double points);
    void layoutSubviews() override;
    // The height the visible subviews need at `width`, as they would be arranged.
    double heightForWidth(double width) const;
    bool handlesTouches() const override { return scrolls; }
    void touchBegan(CGPoint point) override { dragY_ = point.y; }
    void touchMoved(CGPoint point) override { scrollBy(dragY_ - std::exchange(dragY_, point.y)); }
    const char* className() const override { return "UIStackView"; }

  private:
    double contentOffset_ = 0, dragY_ = 0;
};

enum class UIActivityIndicatorViewStyle : int { medium = 100, large = 101 };

// Hidden while not animating (hidesWhenStopped): the indicator keeps the view's own hidden
// flag, set from the start and on stopAnimating, cleared on startAnimating. So isHidden()
// is true exactly while not animating, unless code sets the flag in between, as on the
// phone. Its frame starts at the style's size (20 or 37 points square).
class UIActivityIndicatorView : public UIView {
  public:
    explicit UIActivityIndicatorView(UIActivityIndicatorViewStyle style);
    UIActivityIndicatorViewStyle style() const { return style_; }
    UIColor color() const;
    void setColor(UIColor c);
    bool isAnimating() const;
    void startAnimating();
    void stopAnimating();
    const char* className() const override { return "UIActivityIndicatorView"; }

  private:
    UIActivityIndicatorViewStyle style_;
    UIColor color_ = UIColor::whiteColor();
    bool animating_ = false;
};
