#pragma once
// Views: a tree of rectangles with a hidden flag, owned from the root down. Every UI
// object may be used on the main thread only; any other thread aborts with a message
// (the main-thread checker).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/CGGeometry.h"

class UIGestureRecognizer;
struct UIEvent;

// Aborts with a message naming `what` when not called on the main thread.
void UIRequireMainThread(const char* what);

struct UIColor {
    double red = 0, green = 0, blue = 0, alpha = 1;
    static UIColor yellowColor() { return {1, 1, 0, 1}; }
    static UIColor whiteColor() { return {1, 1, 1, 1}; }
    static UIColor blackColor() { return {0, 0, 0, 1}; }
    static UIColor clearColor() { return {0, 0, 0, 0}; }
    friend bool operator==(const UIColor&, const UIColor&) = default;
};

class UIResponder {
  public:
    virtual ~UIResponder() = default;
};

class UIView : public UIResponder {
  public:
    UIView();
    explicit UIView(CGRect frame);
    ~UIView() override;
    UIView(const UIView&) = delete;
    UIView& operator=(const UIView&) = delete;

    // A name for tools (print-ui, the window's drawing): the outlet name where there is one.
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string id) { identifier_ = std::move(id); }

    bool isHidden() const;
    void setHidden(bool hidden);
    // Hidden itself or inside a hidden ancestor: what a person cannot see or touch.
    bool isHiddenOnScreen() const;

    // Drawn under the view's contents; clear by default.
    UIColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(UIColor colour) { backgroundColor_ = colour; }
    // 0 (transparent) to 1 (opaque), for the view and everything inside it.
    double alpha() const { return alpha_; }
    void setAlpha(double alpha) { alpha_ = alpha; }

    // In the superview's coordinates. Geometry may be read from any thread (a renderer
    // sizes its drawable from it); changing it is main-thread work.
    CGRect frame() const;
    void setFrame(CGRect frame);
    // The frame in the root view's coordinates: the coordinates the root's own frame is
    // given in (the screen's, for a window).
    CGRect frameInRoot() const;

    // Takes the view from its old superview, if any; it is drawn above earlier subviews.
    void addSubview(std::shared_ptr<UIView> view);
    void removeFromSuperview();
    const std::vector<std::shared_ptr<UIView>>& subviews() const;
    UIView* superview() const;
    // Whether `view` is this view or one of its ancestors.
    bool isDescendantOfView(const UIView* view) const;

    void addGestureRecognizer(std::shared_ptr<UIGestureRecognizer> recognizer);
    const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const;

    // The deepest visible view under `point` (root coordinates), or nullptr.
    UIView* hitTest(CGPoint pointInRoot);
    // Touch tracking for views that handle touches themselves (controls); the default
    // handles none. Points are in root coordinates.
    virtual bool handlesTouches() const { return false; }
    virtual void touchBegan(CGPoint) {}
    virtual void touchMoved(CGPoint) {}
    virtual void touchEnded(CGPoint) {}

    // Lays out subviews (stack views arrange theirs), then lets each subview lay out its
    // own; called by the window before drawing.
    virtual void layoutSubviews();
    // The interface description's layout of this view's subviews for its current size (its
    // constraints, as it were): run first by layoutSubviews, so views follow a resize.
    using Layout = std::function<void(UIView& view)>;
    void setLayout(Layout layout);

    // What kind of view this is, for tools ("UIView", "UILabel", ...).
    virtual const char* className() const { return "UIView"; }

  private:
    std::string identifier_;
    bool hidden_ = false;
    UIColor backgroundColor_ = UIColor::clearColor();
    double alpha_ = 1;
    CGRect frame_{};
    UIView* superview_ = nullptr;
    std::vector<std::shared_ptr<UIView>> subviews_;
    std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers_;
    Layout layout_;
};
