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
    // Over the budget, the least recently used rungs go, but none that a scene still holds
    // (the mix it shows): letting those go would free nothing, and a lens that keeps
    // needing more rungs than fit would blur them all again on every change.
    for (auto it = kept_.end(); keptBytes_ > keptRungBytes && it != kept_.begin();) {
        --it;
        if (it->pixels.use_count() > 1)
            continue;
        keptBytes_ -= it->pixels->size();
        it = kept_.erase(it);
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
