#pragma once
// One emulated camera node's state, kept in DIR/.videoN.state and mapped MAP_SHARED by
// every process that uses the node: the control tool that creates it and switches its
// faults, and the emulator inside each program that opens it. Every field that changes
// after creation is a lock-free atomic, so the processes need no lock between them.
#include <fcntl.h>
#include <linux/futex.h>
#include <linux/videodev2.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <iterator>
#include <new>
#include <span>
#include <string>

namespace webcam {

// What a UVC camera of the usual kind offers. A control with a master is inactive (and
// refuses writes with EACCES, as uvcvideo does) while its master is not at masterManual.
struct ControlInfo {
    uint32_t id, type;
    const char* name;
    int32_t minimum, maximum, step, defaultValue;
    uint32_t master = 0;
    int32_t masterManual = 0;
};
inline constexpr ControlInfo controls[] = {
    {V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0, 1, 1, 1},
    {V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 255, 1, 0},
    {V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 3, 2047, 1, 166,
     V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
    {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Focus, Absolute", 0, 250, 5, 0, V4L2_CID_FOCUS_AUTO,
     0},
    {V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN, "Focus, Automatic Continuous", 0, 1, 1, 1},
    {V4L2_CID_ZOOM_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Zoom, Absolute", 100, 500, 1, 100},
    // The user controls a common UVC webcam adds.
    {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0},
    {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 64, 1, 32},
    {V4L2_CID_SATURATION, V4L2_CTRL_TYPE_INTEGER, "Saturation", 0, 128, 1, 64},
    {V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -40, 40, 1, 0},
    {V4L2_CID_GAMMA, V4L2_CTRL_TYPE_INTEGER, "Gamma", 72, 500, 1, 100},
    {V4L2_CID_SHARPNESS, V4L2_CTRL_TYPE_INTEGER, "Sharpness", 0, 6, 1, 3},
    {V4L2_CID_BACKLIGHT_COMPENSATION, V4L2_CTRL_TYPE_INTEGER, "Backlight Compensation", 0, 2, 1, 1},
    {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1,
     V4L2_CID_POWER_LINE_FREQUENCY_50HZ},
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER, "White Balance Temperature", 2800, 6500, 10,
     4600, V4L2_CID_AUTO_WHITE_BALANCE, 0},
};
inline constexpr size_t controlCount = std::size(controls);

inline int controlIndex(uint32_t id) {
    int i = int(controlCount) - 1;
    while (i >= 0 && controls[i].id != id)
        --i;
    return i;
}

// The modes an emulated camera offers, in every format: these sizes and intervals, or with
// --stepwise any size from 320 x 240 to 1280 x 960 in steps of 96 x 72 (640 x 480 is not
// one) at intervals a clock gives that does not divide a second evenly.
inline constexpr uint32_t sizes[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
inline constexpr uint32_t intervals[][2] = {{1, 30}, {1, 15}, {1, 10}, {1, 5}};
inline constexpr v4l2_frmsize_stepwise steps{320, 1280, 96, 240, 960, 72};
inline constexpr uint32_t oddIntervals[][2] = {{1001, 30000}, {2, 59}, {1, 5}};

struct ControlState {
    std::atomic<int32_t> value;
    std::atomic<uint32_t> changes; // bumped by every write that changed the value
    std::atomic<uint64_t> writer;  // the file handle that wrote last: pid << 32 | handle number
};

struct NodeState {
    // Fixed when the node is created.
    uint32_t metadata;         // a metadata node (as uvcvideo's second node), not a capture one
    uint32_t formats[2];       // the pixel formats offered, in order; 0 for none
    uint32_t stepwise;         // sizes in steps, intervals not 1/N
    uint32_t damaged;          // of every four frames three break: ERROR flag, no bytes, cut short
    uint32_t bareJpeg;         // MJPEG without Huffman tables, as many UVC cameras send it
    uint32_t paddedRestarts;   // MJPEG with padding before its restart markers, as some send it
    uint32_t absent;           // bit i: controls[i] is not there
    uint32_t frameRateControl; // V4L2_CAP_TIMEPERFRAME
    uint32_t defaultInterval;  // the interval S_FMT falls back to: 0 the fastest, 1 the next
    char bus[32];              // bus info; empty for "usb-emulated-1"
    ControlState control[controlCount];
    // Fault switches, set by the control tool.
    std::atomic<uint32_t> unplugged, stalled /* 2: until the next STREAMON */, failure /* errno */, busy,
        denied;
    std::atomic<uint32_t> bandwidthShort; // how many STREAMONs fail with ENOSPC
    std::atomic<uint32_t> busyShort;      // how many S_FMTs fail with EBUSY, as while another program lets go
    std::atomic<uint32_t> generation;     // bumped by every replug: handles from before stay dead
    // What the streaming program set last.
    std::atomic<uint32_t> fourcc, width, height, numerator, denominator;
    std::atomic<uint32_t> streaming; // the streaming process's pid, 0 for none
    std::atomic<uint64_t> frames;
    // A wait word for every emulator thread on the node: bumped and woken on any change, so
    // a change made by another process reaches a waiting program at once.
    std::atomic<uint32_t> doorbell;
    // An output node as v4l2loopback's (EmulatedLoopback.cpp), fixed at creation: a
    // writer sets the format and writes frames into DIR/.videoN.frames, which capture
    // clients of the node read. With exclusiveCaps it offers capture only once a writer
    // has set the format.
    uint32_t loopback, exclusiveCaps;
    std::atomic<uint32_t> writer, formatSet; // the writing process's pid; a format is set
    std::atomic<uint64_t> written;           // frames written, the newest in slot (written - 1) % 4

    std::span<const uint32_t[2]> intervalList() const {
        return stepwise ? std::span<const uint32_t[2]>(oddIntervals) : intervals;
    }
    void ring() {
        doorbell.fetch_add(1);
        ::syscall(SYS_futex, &doorbell, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
    }
    // A live process streams (one that crashed holds nothing, as on a kernel).
    bool held() const { return alive(pid_t(streaming.load())); }
    static bool alive(pid_t pid) { return pid && (::kill(pid, 0) == 0 || errno != ESRCH); }
};
static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the doorbell is a futex word");

// Maps `size` bytes of the open file `fd` shared, first sizing the file so when `resize`;
// null when `fd` is none or the file is shorter.
inline void* mapShared(int fd, size_t size, bool resize) {
    const bool sized =
        fd >= 0 && (resize ? ::ftruncate(fd, off_t(size)) == 0 : ::lseek(fd, 0, SEEK_END) >= off_t(size));
    void* p = sized ? ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    return p == MAP_FAILED ? nullptr : p;
}

// Maps the node's state, DIR/.videoN.state; `create` makes it afresh (every value zero).
// Null when it is not there.
inline NodeState* mapNode(const std::string& dir, const std::string& node, bool create) {
    const std::string path = dir + "/." + node + ".state";
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    void* p = mapShared(fd, sizeof(NodeState), create);
    ::close(fd);
    return p && create ? new (p) NodeState{} : static_cast<NodeState*>(p);
}

} // namespace webcam
