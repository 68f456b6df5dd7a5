#pragma once
// Which camera a node is, as opposed to where it is: the card's name and where it is
// attached (bus info). A camera that comes back after an unplug may have another number
// (/dev/video2 instead of /dev/video0) and its udev links may not be made yet; another
// camera may have taken its old number. The webcam device remembers the identity and
// reopens the node that carries it.
#include <map>
#include <memory>
#include <string>

#include "capture/v4l2/V4L2Io.h"

struct V4L2CameraIdentity {
    std::string card, bus;
    friend bool operator==(const V4L2CameraIdentity&, const V4L2CameraIdentity&) = default;
};

V4L2CameraIdentity identityOf(V4L2Io& camera);

// The videoN nodes of `deviceDirectory`, by number (video2 before video10).
std::map<unsigned long, std::string> videoNodePaths(const std::string& deviceDirectory = "/dev");

// Opens the camera with `identity`: at `path` when the node there carries it, otherwise at
// whichever videoN node does (same card and bus; or the only node with that card, for a
// camera moved to another port). Null when none does; `errorNumber` is then the errno of
// opening `path` (ENOENT when it is not there, ENODEV when another camera is).
std::unique_ptr<V4L2Io> openV4L2Camera(const std::string& path, const V4L2CameraIdentity& identity,
                                       int* errorNumber, const std::string& deviceDirectory = "/dev");
