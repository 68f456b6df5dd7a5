#include "capture/v4l2/V4L2CameraListing.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "capture/v4l2/V4L2CameraIdentity.h"
#include "capture/v4l2/V4L2Io.h"
#include "capture/v4l2/V4L2ModeChoice.h"
#include "capture/v4l2/V4L2OutputNodes.h"

namespace {
std::string framesPerSecond(const std::vector<V4L2Interval>& intervals) {
    if (intervals.empty())
        return "rate not listed";
    std::string text;
    for (const auto& interval : intervals) {
        if (!interval.numerator)
            continue;
        char rate[32];
        std::snprintf(rate, sizeof rate, "%s%g", text.empty() ? "" : ", ",
                      double(interval.denominator) / interval.numerator);
        text += rate;
    }
    return text + " fps";
}
// udev's stable names for `node` (/dev/v4l/by-id/usb-…-video-index0): they survive a
// replug and a change of number, so they are the ones to put in a script or a launcher.
std::vector<std::string> stableLinks(const std::string& deviceDirectory, const std::string& node) {
    std::vector<std::string> links;
    std::error_code error;
    const auto target = std::filesystem::canonical(node, error);
    if (error)
        return links;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(deviceDirectory) / "v4l" / "by-id", error))
        if (std::error_code ignored; std::filesystem::canonical(entry.path(), ignored) == target)
            links.push_back(entry.path().string());
    std::sort(links.begin(), links.end());
    return links;
}

} // namespace

std::optional<CaptureNode> firstCaptureNode(const std::string& deviceDirectory) {
    for (const auto& [number, path] : videoNodePaths(deviceDirectory)) {
        if (auto role = probeVideoNode(path); role && (role->output || role->loopback))
            continue;
        if (auto io = openV4L2Device(path, nullptr))
            return CaptureNode{path, io->cardName()};
    }
    return std::nullopt;
}

std::string describeCameras(const std::string& deviceDirectory) {
    std::string table;
    for (const auto& [number, path] : videoNodePaths(deviceDirectory)) {
        if (auto role = probeVideoNode(path); role && (role->output || role->loopback)) {
            table += path + "  " + role->cardName + "  (output" + (role->loopback ? ", v4l2loopback" : "") +
                     "; fernhold --output " + path + ")\n";
            continue;
        }
        NSError openError;
        int why = 0;
        auto io = openV4L2Device(path, &openError, &why);
        if (!io) {
            if (why != ENOTTY)
                table += path + "  (" + openError.localizedDescription() + ")\n";
            continue;
        }
        table += path + "  " + io->cardName() + "  " + io->busInfo() + "\n";
        for (const std::string& link : stableLinks(deviceDirectory, path))
            table += "    " + link + "\n";
        for (const V4L2Mode& mode : io->modes(defaultPictureSize)) {
            char line[64];
            std::snprintf(line, sizeof line, "    %s  %5ux%-5u  ",
                          fourCharacterCode(mode.pixelFormat).c_str(), mode.width, mode.height);
            table += line + framesPerSecond(mode.intervals) + "\n";
        }
    }
    if (table.empty())
        return "No cameras found: no " + deviceDirectory + "/video* node captures video.\n";
    return table;
}
