#include "capture/v4l2/V4L2CameraIdentity.h"

#include <cerrno>
#include <filesystem>
#include <vector>

V4L2CameraIdentity identityOf(V4L2Io& camera) {
    return {camera.cardName(), camera.busInfo()};
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
                                       int* errorNumber, const std::string& deviceDirectory) {
    int why = 0;
    if (auto camera = openV4L2Device(path, nullptr, &why)) {
        if (identityOf(*camera) == identity)
            return camera;
        why = ENODEV; // another camera took the name
    }
    if (errorNumber)
        *errorNumber = why;
    // Elsewhere: the same card on the same bus, or failing that the one node with that card.
    std::vector<std::unique_ptr<V4L2Io>> sameCard;
    for (const auto& [number, node] : videoNodePaths(deviceDirectory)) {
        if (node == path)
            continue;
        auto camera = openV4L2Device(node, nullptr);
        if (!camera || camera->cardName() != identity.card)
            continue;
        if (camera->busInfo() == identity.bus)
            return camera;
        sameCard.push_back(std::move(camera));
    }
    return sameCard.size() == 1 ? std::move(sameCard.front()) : nullptr;
}
