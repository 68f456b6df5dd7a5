#pragma once
// A view controller: owns its root view and hears the view lifecycle. The interface
// description (a Storyboard) builds the view tree and connects outlets and actions.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ui/UIView.h"

class UIStoryboardCoder; // the decoder handed to initWithCoder

enum class UIInterfaceOrientationMask : unsigned {
    portrait = 2,
    landscapeLeft = 16,
    landscapeRight = 8,
    all = 30
};

class UIViewController : public UIResponder, public std::enable_shared_from_this<UIViewController> {
  public:
    UIViewController() = default;
    ~UIViewController() override = default;
    UIViewController(const UIViewController&) = delete;
    UIViewController& operator=(const UIViewController&) = delete;

    // The root view (the interface description sets it before viewDidLoad).
    const std::shared_ptr<UIView>& view() const { return view_; }
    void setView(std::shared_ptr<UIView> view) { view_ = std::move(view); }

    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual bool shouldAutorotate() const { return true; }
    virtual UIInterfaceOrientationMask supportedInterfaceOrientations() const {
        return UIInterfaceOrientationMask::all;
    }

    // The frame counts of a screen that shows a camera, for the host's --stats lines;
    // nothing for other screens. Main thread.
    struct FrameStatistics {
        uint64_t produced = 0;            // frames the camera delivered
        uint64_t analysed = 0;            // measured by the frame callback
        uint64_t notAnalysedByFilter = 0; // passed over: the filter shows no measurement
        int64_t dropped = 0;              // passed over: the previous frame was still being measured
        uint64_t droppedGpuBusy = 0;      // not handed to the GPU: the previous frame was in flight
        uint64_t processed = 0;           // handed to the GPU
    };
    virtual std::optional<FrameStatistics> frameStatistics() const { return std::nullopt; }

    // Inspection for tools (the print-ui command): a controller state value that is not
    // a view, as JSON text, or nothing for an unknown key. Main thread.
    virtual std::optional<std::string> inspectValueForKey(const std::string& /*key*/) const {
        return std::nullopt;
    }

  private:
    std::shared_ptr<UIView> view_;
};
