#pragma once
// A webcam's controls as the camera panel shows them: every control VIDIOC_QUERY_EXT_CTRL
// lists (menus through VIDIOC_QUERYMENU), except those the device's focus, exposure, ISO,
// bias and zoom already drive, kept up to date from control events so the panel shows the
// camera's state whoever changed it.
//
// Threads: controls() and setValue() from any thread; follow() on the device thread;
// attach() and restore() on the I/O thread. One mutex guards the list; no camera call is
// made while holding it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CameraControls.h"
#include "capture/v4l2/V4L2ControlMap.h"
#include "capture/v4l2/V4L2Io.h"

class V4L2PanelControls final : public CameraControls {
  public:
    // Called after a write of ours (no event comes back to the writer), with the control's id.
    using WriteHandler = std::function<void(uint32_t id)>;

    // Lists what `camera` offers beyond what `driven` maps.
    V4L2PanelControls(V4L2Io& camera, const V4L2ControlMap& driven, std::string identity);

    std::vector<CameraControl> controls() const override;
    std::string setValue(uint32_t id, int64_t value) override;
    std::string identity() const override { return identity_; }

    // The camera the controls are written to now; it may go away (held weakly).
    void attach(const std::shared_ptr<V4L2Io>& camera);
    void setWriteHandler(WriteHandler handler);
    // Forgets the camera and the write handler: a panel that outlives its device does nothing.
    void detach();
    // Events for every listed control, on a camera just opened.
    void subscribe(V4L2Io& camera) const;
    // A control event: the value and flags as they are now.
    void follow(const V4L2ControlEvent& event);
    // Writes what was set back to a camera just reopened, which starts from its defaults.
    void restore(V4L2Io& camera);

  private:
    // Reads every value and flag back from `camera` (a write may change other controls' flags).
    void reread(V4L2Io& camera);

    const std::string identity_;
    mutable std::mutex mutex_;
    std::vector<CameraControl> controls_;
    std::weak_ptr<V4L2Io> camera_;
    WriteHandler writeHandler_;
};
