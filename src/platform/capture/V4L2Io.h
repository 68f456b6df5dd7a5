#pragma once
// Everything the webcam device asks of the kernel, behind one small interface, so the
// mapping between device properties and V4L2 controls is tested against a fake camera.
// The one real implementation goes through libv4l2, which converts whatever the camera
// sends (MJPEG, YUYV) into the RGB24 we ask for.
//
// Threads: the device calls the control methods from its callers' threads and its device
// thread, and waitForActivity/readFrame/dequeueEvent/stream calls from its I/O thread;
// wake() from any thread. Implementations must allow control calls concurrently with
// the I/O thread's calls (the kernel does).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSError.h"

struct V4L2ControlInfo {
    uint32_t id = 0;
    uint32_t type = 0; // V4L2_CTRL_TYPE_*
    int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
    uint32_t flags = 0; // V4L2_CTRL_FLAG_*
    std::string name;
};

struct V4L2MenuEntry {
    uint32_t index = 0;
    std::string name;  // menus
    int64_t value = 0; // integer menus
};

struct V4L2ControlEvent {
    uint32_t id = 0;
    int32_t value = 0;
    uint32_t changes = 0; // V4L2_EVENT_CTRL_CH_*
};

struct V4L2Format {
    uint32_t width = 640, height = 480;
    uint32_t bytesPerLine = 0; // of the RGB24 rows readFrame() returns
};

class V4L2Io {
  public:
    virtual ~V4L2Io() = default;

    // The driver's name for the camera (the card name).
    virtual std::string cardName() const = 0;

    // Controls. Error results are errno values, 0 on success.
    // Nullopt when the camera lacks the control or has it disabled.
    virtual std::optional<V4L2ControlInfo> queryControl(uint32_t id) = 0;
    // The entries VIDIOC_QUERYMENU accepts between the control's minimum and maximum.
    virtual std::vector<V4L2MenuEntry> queryMenu(const V4L2ControlInfo& control) = 0;
    virtual int getControl(uint32_t id, int32_t& value) = 0;
    virtual int setControl(uint32_t id, int32_t value) = 0;
    // Asks for a V4L2_EVENT_CTRL event whenever another program changes the control.
    virtual int subscribeControlEvents(uint32_t id) = 0;
    // The next pending control event, if any; never blocks.
    virtual std::optional<V4L2ControlEvent> dequeueEvent() = 0;

    // Frames. setFormat asks for RGB24 at `format`'s size and returns the size granted.
    virtual int setFormat(V4L2Format& format) = 0;
    virtual int startStreaming() = 0;
    virtual int stopStreaming() = 0;

    struct Activity {
        bool frame = false; // readFrame() has something (or an error) to report
        bool event = false; // dequeueEvent() has something
    };
    // Blocks until a frame is ready (looked for only with `wantFrame`), a control event
    // is pending, or wake() is called. Non-zero when the camera is gone or broken.
    virtual int waitForActivity(bool wantFrame, Activity& activity) = 0;
    virtual void wake() = 0;
    // The next frame's RGB24 rows (bytesPerLine apart) into `rgb`; EAGAIN when none is
    // ready after all.
    virtual int readFrame(std::vector<uint8_t>& rgb) = 0;
};

// Opens a V4L2 capture node (e.g. /dev/video0) through libv4l2. Null with `error` when
// it cannot be opened or does not capture video.
std::unique_ptr<V4L2Io> openV4L2Device(const std::string& path, NSError* error);
