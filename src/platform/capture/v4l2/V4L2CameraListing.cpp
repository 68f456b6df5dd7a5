#include "capture/v4l2/V4L2CameraListing.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <vector>

#include "capture/v4l2/V4L2Io.h"
#include "capture/v4l2/V4L2ModeChoice.h"

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
} // namespace

std::string describeCameras(const std::string& deviceDirectory) {
    // Node number order (video2 before video10).
    std::map<unsigned long, std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(deviceDirectory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0 || name.size() == 5 || name.size() > 9 ||
            name.find_first_not_of("0123456789", 5) != std::string::npos)
            continue;
        nodes.emplace(std::stoul(name.substr(5)), (std::filesystem::path(deviceDirectory) / name).string());
    }
    std::string table;
    for (const auto& [number, path] : nodes) {
        NSError openError;
        int why = 0;
        auto io = openV4L2Device(path, &openError, &why);
        if (!io) {
            if (why != ENOTTY)
                table += path + "  (" + openError.localizedDescription() + ")\n";
            continue;
        }
        table += path + "  " + io->cardName() + "  " + io->busInfo() + "\n";
        for (const V4L2Mode& mode : io->modes()) {
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
