#pragma once
// The camera panel: every further control of the camera (CameraControls), grouped as the
// camera groups them, with "Reset" at the end. Integers are sliders on their steps,
// switches are switches, menus are segmented controls, buttons are buttons. A control
// that is inactive or grabbed is greyed (disabled). The panel follows every change,
// whoever made it, and is hidden at start; its button in the side panel and the `k` key
// show and hide it.
//
// Threads: main thread only; changes from the device's thread are handed to the main queue.
#include <functional>
#include <map>
#include <memory>

#include "capture/CameraControls.h"
#include "host/HostCore.h"
#include "ui/UIControls.h"

namespace host {

class CameraPanel : public std::enable_shared_from_this<CameraPanel> {
  public:
    // Connects the panel under `root` ("cameraPanelView", "cameraPanelButton"); null when the
    // screen has none. `changed` is called after the panel changed on screen.
    static std::shared_ptr<CameraPanel> connect(UIView& root, std::shared_ptr<OpenedDevice> device,
                                                std::function<void()> changed);
    void toggle();

  private:
    CameraPanel(UIStackView& view, std::shared_ptr<OpenedDevice> device, std::function<void()> changed);
    // Builds the rows for the device's controls, the first time the panel shows.
    void build();
    void refresh();
    void set(uint32_t id, int64_t value);

    struct Row {
        UILabel* caption = nullptr; // "Name: value" over a slider
        UIControl* control = nullptr;
    };

    UIStackView& view_;
    std::shared_ptr<OpenedDevice> device_;
    std::shared_ptr<CameraControls> controls_;
    std::function<void()> changed_;
    std::map<uint32_t, Row> rows_;
};

} // namespace host
