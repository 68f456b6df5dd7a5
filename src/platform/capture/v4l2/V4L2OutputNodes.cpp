#include "capture/v4l2/V4L2OutputNodes.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "capture/v4l2/V4L2CameraIdentity.h"

std::optional<V4L2NodeRole> probeVideoNode(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    v4l2_capability caps{};
    const bool answered = ::ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0;
    ::close(fd);
    if (!answered)
        return std::nullopt;
    const uint32_t device = caps.capabilities & V4L2_CAP_DEVICE_CAPS ? caps.device_caps : caps.capabilities;
    const char* driver = reinterpret_cast<const char*>(caps.driver);
    return V4L2NodeRole{(device & V4L2_CAP_VIDEO_OUTPUT) != 0, std::strcmp(driver, "v4l2 loopback") == 0,
                        std::string(reinterpret_cast<const char*>(caps.card),
                                    strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card))};
}

std::optional<std::string> firstLoopbackNode(const std::string& deviceDirectory) {
    for (const auto& [number, path] : videoNodePaths(deviceDirectory))
        if (auto role = probeVideoNode(path); role && role->loopback)
            return path;
    return std::nullopt;
}
