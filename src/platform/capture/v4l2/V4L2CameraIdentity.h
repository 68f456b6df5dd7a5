#pragma once
// Which camera a node is, as opposed to where it is: the card's name and where it is
// attached (bus info), and the USB serial number where the camera has one, which tells two
// cameras of one model apart on any port. A camera that comes back after an unplug may
// have another number (/dev/video2 instead of /dev/video0) and its udev links may not be
// made yet; another camera may have taken its old number. The webcam device remembers the
// identity and reopens the node that carries it.
#include <map>
#include <memory>
#include <string>

#include "capture/v4l2/V4L2Io.h"

struct V4L2CameraIdentity {
    std::string card, bus, serial;
    friend bool operator==(const V4L2CameraIdentity&, const V4L2CameraIdentity&) = default;
    // What the camera's settings are kept under: the card and its serial, else its bus.
    std::string name() const;
    // Whether a node that is `found` is this camera: the same card and serial, whatever the
    // bus, for a camera with a serial; the same card and bus for one without.
    bool matches(const V4L2CameraIdentity& found) const;
};

V4L2CameraIdentity identityOf(V4L2Io& camera);

// The serial number of the USB device behind the video node open as `fd`, from sysfs;
// empty when it has none (not a USB camera, or one without a serial).
std::string usbSerialNumber(int fd);

// The videoN nodes of `deviceDirectory`, by number (video2 before video10).
std::map<unsigned long, std::string> videoNodePaths(const std::string& deviceDirectory = "/dev");

// Opens the camera with `identity`: at `path` when the node there carries it, otherwise at
// whichever videoN node does (see matches(); or, for a camera without a serial moved to
// another port, the only node with that card and no serial). Null when none does;
// `errorNumber` is then the errno of
// opening `path` (ENOENT when it is not there, ENODEV when another camera is). `foundAt`
// gets the name it was opened by: `path`, or the videoN node it was found at.
std::unique_ptr<V4L2Io> openV4L2Camera(const std::string& path, const V4L2CameraIdentity& identity,
                                       int* errorNumber, const std::string& deviceDirectory = "/dev",
                                       std::string* foundAt = nullptr);

// Which name a line about a camera opened as `chosen`, found again at `foundAt`, gives it:
// the node it was found at, when `chosen` names a videoN node (the camera may have come back
// under another number); otherwise the chosen name, a link such as udev's by-id one, which
// follows the camera rather than its number. Whether the link leads to that node is not
// asked of the file system: during a replug udev may still be remaking it.
std::string cameraNameForLines(const std::string& chosen, const std::string& foundAt);
