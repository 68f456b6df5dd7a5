#pragma once
// Everything the webcam device asks of the kernel, behind one small interface. The one
// real implementation goes through libv4l2: MJPEG and YUYV pass through as the camera
// sends them (we decode and scale them ourselves, see CameraFrameDecoder.h); any other
// format is asked for as RGB24, which libv4l2 converts to.
//
// Threads: the device calls the control methods from its callers' threads and its device
// thread, and waitForActivity/readFrame/dequeueEvent/stream calls from its I/O thread;
// wake() from any thread. Implementations must allow control calls concurrently with
// the I/O thread's calls (the kernel does).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/PictureSize.h"
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
    uint32_t flags = 0;   // V4L2_CTRL_FLAG_* as they are now
};

// A frame duration as V4L2 writes it: numerator / denominator seconds.
struct V4L2Interval {
    uint32_t numerator = 1, denominator = 30;
    double seconds() const { return denominator ? double(numerator) / denominator : 0; }
    friend bool operator==(const V4L2Interval&, const V4L2Interval&) = default;
};

// One size of one pixel format the camera offers, with its frame durations.
struct V4L2Mode {
    uint32_t pixelFormat = 0; // V4L2_PIX_FMT_*
    uint32_t width = 0, height = 0;
    std::vector<V4L2Interval> intervals;
};

// A frame as the camera sent it, in place in the camera's own buffer.
struct V4L2Frame {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    // When the driver says it took the frame on the monotonic clock (which steady_clock is
    // on Linux); empty when its timestamps are on another clock or missing.
    std::optional<std::chrono::steady_clock::time_point> captured;
};

struct V4L2Format {
    uint32_t pixelFormat = 0; // V4L2_PIX_FMT_*
    uint32_t width = 640, height = 480;
    uint32_t bytesPerLine = 0; // of the rows readFrame() returns (packed formats)
};

class V4L2Io {
  public:
    virtual ~V4L2Io() = default;

    // The driver's name for the camera (the card name), and where it is attached.
    virtual std::string cardName() const = 0;
    virtual std::string busInfo() const = 0;
    // The serial number of the USB device behind the node; empty where it has none.
    virtual std::string serialNumber() const { return {}; }

    // Controls. Error results are errno values, 0 on success.
    // Nullopt when the camera lacks the control or has it disabled.
    virtual std::optional<V4L2ControlInfo> queryControl(uint32_t id) = 0;
    // The entries VIDIOC_QUERYMENU accepts between the control's minimum and maximum.
    virtual std::vector<V4L2MenuEntry> queryMenu(const V4L2ControlInfo& control) = 0;
    // The control after `id` in the camera's order (VIDIOC_QUERY_EXT_CTRL with
    // V4L2_CTRL_FLAG_NEXT_CTRL; 0 for the first), disabled ones included; nullopt after the last.
    virtual std::optional<V4L2ControlInfo> queryNextControl(uint32_t /*id*/) { return std::nullopt; }
    virtual int getControl(uint32_t id, int32_t& value) = 0;
    virtual int setControl(uint32_t id, int32_t value) = 0;
    // Asks for a V4L2_EVENT_CTRL event whenever another program changes the control.
    virtual int subscribeControlEvents(uint32_t id) = 0;
    // The next pending control event, if any; never blocks.
    virtual std::optional<V4L2ControlEvent> dequeueEvent() = 0;

    // Frames. The modes the camera itself offers (not those libv4l2 emulates); of a range
    // of sizes, those that suit a picture of `picture`'s size.
    virtual std::vector<V4L2Mode> modes(PictureSize picture) = 0;
    // The frame durations of one pixel format (libv4l2's conversions too) at one size.
    virtual std::vector<V4L2Interval> frameIntervals(uint32_t pixelFormat, uint32_t width,
                                                     uint32_t height) = 0;
    // Asks for `format`'s pixel format and size and returns what was granted.
    virtual int setFormat(V4L2Format& format) = 0;
    // Whether the camera takes a frame duration (V4L2_CAP_TIMEPERFRAME); setFrameInterval
    // writes one and returns the duration in effect.
    virtual bool canSetFrameInterval() = 0;
    virtual int setFrameInterval(V4L2Interval& interval) = 0;
    virtual int startStreaming() = 0;
    virtual int stopStreaming() = 0;

    struct Activity {
        bool frame = false; // readFrame() has something (or an error) to report
        bool event = false; // dequeueEvent() has something
    };
    // Blocks until a frame is ready (looked for only with `wantFrame`), a control event
    // is pending, wake() is called or `timeoutMs` passes (-1: no limit). Non-zero when the
    // camera is gone or broken.
    virtual int waitForActivity(bool wantFrame, int timeoutMs, Activity& activity) = 0;
    virtual void wake() = 0;
    // The next frame, without copying: `frame` stays valid until releaseFrame(), which
    // gives its buffer back to the camera and must come before the next readFrame().
    // EAGAIN when none is ready after all, or the frame came damaged (nothing to release).
    virtual int readFrame(V4L2Frame& frame) = 0;
    // Gives the frame's buffer back to the camera; an errno when the camera refuses it.
    virtual int releaseFrame() = 0;
};

// Opens a V4L2 capture node (e.g. /dev/video0) through libv4l2. Null with `error` when
// it cannot be opened or does not capture video; `errorNumber` (when given) says why:
// the errno of the open, or ENOTTY for a node that is no video capture device.
std::unique_ptr<V4L2Io> openV4L2Device(const std::string& path, NSError* error, int* errorNumber = nullptr);
