// The box merge: order, absorption and equality with a plain transcription of the
// procedure (walks that absorb into a growing box, removal of the first equal box).
#include <gtest/gtest.h>

#include <random>

#include "analysis/BoxMerge.h"
#include "camera/CameraViewController.h"

namespace {
std::vector<CGRect> mergeByTranscription(CGRect n, const std::vector<CGRect>& list) {
    if (list.empty())
        return {n};
    CGRect r = n;
    std::vector<CGRect> w = list;
    for (;;) {
        bool changed = false;
        std::vector<CGRect> absorbed;
        for (const CGRect& b : w) {
            if (CGRectIntersectsRect(r, b)) {
                r = CGRectUnion(r, b);
                absorbed.push_back(b);
                changed = true;
            }
        }
        for (const CGRect& a : absorbed) {
            auto it =
                std::find_if(w.begin(), w.end(), [&](const CGRect& b) { return CGRectEqualToRect(a, b); });
            if (it != w.end())
                w.erase(it);
        }
        if (!changed)
            break;
    }
    w.push_back(r);
    return w;
}
} // namespace

TEST(MergeBox, MatchesThePlainProcedureOnRandomSequences) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> coordinate(0, 200), size(1, 30), pick(0, 9);
    for (int round = 0; round < 300; ++round) {
        std::vector<CGRect> fast, plain;
        for (int step = 0; step < 60; ++step) {
            CGRect box;
            // Mix fresh squares with squares inside the last box, the fast path's case.
            if (!plain.empty() && pick(random) < 3) {
                const CGRect& last = plain.back();
                box = CGRectMake(last.origin.x + 1, last.origin.y, std::max(0.5, last.size.width - 2),
                                 last.size.height);
            } else {
                box = CGRectMake(coordinate(random), coordinate(random), size(random), size(random));
            }
            fast = CameraViewController::mergeBox(box, fast);
            plain = mergeByTranscription(box, plain);
            ASSERT_EQ(fast, plain) << "round " << round << " step " << step;
        }
    }
}
