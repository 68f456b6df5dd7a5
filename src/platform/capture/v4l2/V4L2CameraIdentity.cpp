#include "capture/v4l2/V4L2CameraIdentity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

V4L2CameraIdentity identityOf(V4L2Io& camera) {
    return {camera.cardName(), camera.busInfo(), camera.serialNumber()};
}

std::string V4L2CameraIdentity::name() const {
    return serial.empty() ? card + " @ " + bus : card + " serial " + serial;
}

bool V4L2CameraIdentity::matches(const V4L2CameraIdentity& found) const {
    return found.card == card && (serial.empty() ? found.bus == bus : found.serial == serial);
}

// The node's sysfs folder (found by its device number, whatever path opened it) links to
// the USB interface; the serial is the USB device's, one folder up.
std::string usbSerialNumber(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode))
        return {};
    std::ifstream file("/sys/dev/char/" + std::to_string(major(status.st_rdev)) + ":" +
                       std::to_string(minor(status.st_rdev)) + "/device/../serial");
    std::string serial;
    std::getline(file, serial);
    return serial;
}

std::map<unsigned long, std::string> videoNodePaths(const std::string& deviceDirectory) {
    std::map<unsigned long, std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(deviceDirectory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0 || name.size() == 5 || name.size() > 9 ||
            name.find_first_not_of("0123456789", 5) != std::string::npos)
            continue;
        nodes.emplace(std::stoul(name.substr(5)), (std::filesystem::path(deviceDirectory) / name).string());
    }
    return nodes;
}

std::unique_ptr<V4L2Io> openV4L2Camera(const std::string& path, const V4L2CameraIdentity& identity,
                                       int* errorNumber, const std::string& deviceDirectory,
                                       std::string* foundAt) {
    // The camera, with the name it was opened by.
    const auto found = [foundAt](const std::string& name, std::unique_ptr<V4L2Io> camera) {
        if (foundAt)
            *foundAt = name;
        return camera;
    };
    int why = 0;
    if (auto camera = openV4L2Device(path, nullptr, &why)) {
        if (identity.matches(identityOf(*camera)))
            return found(path, std::move(camera));
        why = ENODEV; // another camera took the name
    }
    if (errorNumber)
        *errorNumber = why;
    // Elsewhere: the same camera, or failing that the one node with that card. Cameras with
    // serials are told apart by them: one is never taken for another of its model.
    std::vector<std::pair<std::string, std::unique_ptr<V4L2Io>>> sameCard;
    for (const auto& [number, node] : videoNodePaths(deviceDirectory)) {
        if (node == path)
            continue;
        auto camera = openV4L2Device(node, nullptr);
        if (!camera || camera->cardName() != identity.card)
            continue;
        const V4L2CameraIdentity itsIdentity = identityOf(*camera);
        if (identity.matches(itsIdentity))
            return found(node, std::move(camera));
        if (identity.serial.empty() && itsIdentity.serial.empty())
            sameCard.emplace_back(node, std::move(camera));
    }
    if (sameCard.size() != 1)
        return nullptr;
    return found(sameCard.front().first, std::move(sameCard.front().second));
}

std::string cameraNameForLines(const std::string& chosen, const std::string& foundAt) {
    const std::string name = std::filesystem::path(chosen).filename();
    const bool node = name.starts_with("video") && name.size() > 5 &&
                      name.find_first_not_of("0123456789", 5) == std::string::npos;
    return node ? foundAt : chosen;
}
