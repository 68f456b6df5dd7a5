#pragma once
// Video output nodes (v4l2loopback's, where Fernhold writes its picture for other
// programs) among /dev/video*: the listing marks them, and the camera choice leaves them
// out so that a run never reads its own output.
#include <optional>
#include <string>

struct V4L2NodeRole {
    bool output = false;   // V4L2_CAP_VIDEO_OUTPUT now
    bool loopback = false; // v4l2loopback's, which may show only capture while written to
    std::string cardName;
};

// Null when the node cannot be opened or answers no VIDIOC_QUERYCAP.
std::optional<V4L2NodeRole> probeVideoNode(const std::string& path);

// The v4l2loopback node with the lowest number, or nothing.
std::optional<std::string> firstLoopbackNode(const std::string& deviceDirectory = "/dev");
