#pragma once
// Every control a camera offers beyond the ones the screen's focus, exposure, ISO, bias
// and zoom controls drive: brightness, white balance, power-line frequency and the like,
// as the camera itself describes them (V4L2's names, ranges, steps, defaults and menus),
// grouped as the camera's control classes group them.
//
// Threads: any thread may read and write. The change handler is called on the thread that
// saw the change (the caller's for a write, the device's own thread for a change another
// program made or a control that became inactive); it must hand over to its own queue.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

enum class CameraControlKind { integer, boolean, menu, integerMenu, button };

struct CameraControlMenuItem {
    int64_t index = 0;
    std::string label; // the item's name, or an integer menu's value written out
};

struct CameraControl {
    uint32_t id = 0; // the V4L2 control id
    std::string name;
    std::string group; // "User Controls", "Camera Controls"...
    CameraControlKind kind = CameraControlKind::integer;
    int64_t minimum = 0, maximum = 0, step = 1, defaultValue = 0, value = 0;
    bool inactive = false; // another control's automatic mode governs it for now
    bool grabbed = false;  // busy while streaming, or held by another program
    bool readOnly = false;
    std::vector<CameraControlMenuItem> menu;

    bool writable() const { return !readOnly && !grabbed && kind != CameraControlKind::button; }
    // "inactive", "grabbed", "read-only" joined by commas; empty when none.
    std::string flagText() const;
};

class CameraControls {
  public:
    using ChangeHandler = std::function<void()>;

    virtual ~CameraControls() = default;

    // The controls with their present values, in the camera's order.
    virtual std::vector<CameraControl> controls() const = 0;
    // Sets a control (a button: presses it); empty on success, else why not.
    virtual std::string setValue(uint32_t id, int64_t value) = 0;
    // Which camera this is, wherever it is plugged in: what its settings are kept under.
    virtual std::string identity() const = 0;

    // Puts every writable control back to its default, the automatic switches first so
    // that the values they govern are not refused.
    void resetToDefaults();
    // The control with this name (as the camera reports it, case-insensitive) or id
    // (decimal or 0x hexadecimal).
    std::optional<CameraControl> find(const std::string& nameOrId) const;

    // Handlers are kept for the object's lifetime; each is called on every change.
    void addChangeHandler(ChangeHandler handler);

  protected:
    void changed();

  private:
    mutable std::mutex handlerMutex_;
    std::vector<ChangeHandler> handlers_;
};

// The class's heading as v4l2-ctl prints it, for a V4L2 control id.
std::string controlGroupName(uint32_t id);
