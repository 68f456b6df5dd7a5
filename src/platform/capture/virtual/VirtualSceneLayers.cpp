#include "capture/virtual/VirtualSceneLayers.h"

#include <map>
#include <utility>

using namespace virtual_scene;

Pixels VirtualScene::Layers::rung(int layer, int i) const {
    if (i == 0)
        return layers[size_t(layer)].sharp;
    // Blurring under the lock keeps two devices from making the same rung twice; only
    // frame threads of virtual cameras ever wait here.
    std::lock_guard lock(keptMutex_);
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if (it->layer == layer && it->rung == i) {
            kept_.splice(kept_.begin(), kept_, it);
            return it->pixels;
        }
    auto made = std::make_shared<const std::vector<uint8_t>>(
        boxBlur(*layers[size_t(layer)].sharp, rungRadius(i), geometry.width, geometry.height));
    kept_.push_front({layer, i, made});
    keptBytes_ += made->size();
    while (keptBytes_ > keptRungBytes && kept_.size() > 1) {
        keptBytes_ -= kept_.back().pixels->size();
        kept_.pop_back();
    }
    return made;
}

size_t VirtualScene::Layers::keptBytes() const {
    std::lock_guard lock(keptMutex_);
    return keptBytes_;
}

std::shared_ptr<const VirtualScene::Layers> VirtualScene::Layers::shared(int width, int height) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, std::shared_ptr<const Layers>> painted;
    std::lock_guard lock(mutex);
    auto& found = painted[{width, height}];
    if (!found) {
        auto made = std::make_shared<Layers>();
        made->geometry = SceneGeometry::forSize(width, height);
        const SceneGeometry& g = made->geometry;
        made->layers[0] = {farSharpAt, std::make_shared<const std::vector<uint8_t>>(farLayer(g))};
        made->layers[1] = {middleSharpAt, std::make_shared<const std::vector<uint8_t>>(middleLayer(g))};
        made->layers[2] = {nearSharpAt, std::make_shared<const std::vector<uint8_t>>(nearLayer(g))};
        found = made;
    }
    return found;
}
