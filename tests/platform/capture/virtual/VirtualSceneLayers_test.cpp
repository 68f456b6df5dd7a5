// The virtual scene's blur ladder at a large picture: bounded by bytes, never letting go
// of the rungs a scene holds.
#include <gtest/gtest.h>

#include "capture/virtual/VirtualSceneLayers.h"

TEST(VirtualSceneLayers, TheLadderIsBoundedByBytesAndKeepsWhatIsHeld) {
    auto layers = VirtualScene::Layers::shared(1920, 1080);
    const size_t picture = size_t(1920) * 1080 * 4;
    auto held = layers->rung(0, 6);
    for (int layer = 0; layer < 3; ++layer)
        for (int rung = 1; rung < virtual_scene::rungs; ++rung)
            ASSERT_EQ(layers->rung(layer, rung)->size(), picture);
    EXPECT_LE(layers->keptBytes(), virtual_scene::keptRungBytes + picture);
    EXPECT_EQ(layers->rung(0, 6), held) << "a held rung stays in the ladder, not made again";
    EXPECT_LT(layers->keptBytes(), 18 * picture);
}
