// Observable properties, their tokens and the notification centre.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "observe/KeyValueObserving.h"
#include "observe/NSNotificationCenter.h"

using Options = NSKeyValueObservingOptions;

TEST(Observation, EachOptionDeliversWhatItNamesOnTheThreadThatMadeTheChange) {
    struct Case {
        Options options;
        std::vector<int> seenAtRegistration, seenAfterTwoSets;
    };
    for (const Case& c : {Case{Options::initial | Options::new_, {7}, {7, 8, 8}},
                          Case{Options::new_, {}, {8, 8}}, Case{Options::initial, {7}, {7}}}) {
        Observable<int> property(7);
        std::vector<int> seen;
        auto token =
            property.observe(c.options, [&](const auto& change) { seen.push_back(*change.newValue); });
        EXPECT_EQ(seen, c.seenAtRegistration); // before observe() returned
        property.set(8);
        property.set(8); // every set is a change, also to an equal value
        EXPECT_EQ(seen, c.seenAfterTwoSets);
    }
    // Changes arrive on the thread that made them.
    Observable<int> property(0);
    std::thread::id deliveredOn, setter;
    auto token =
        property.observe(Options::new_, [&](const auto&) { deliveredOn = std::this_thread::get_id(); });
    std::thread([&] {
        setter = std::this_thread::get_id();
        property.set(1);
    }).join();
    EXPECT_EQ(deliveredOn, setter);
}

TEST(Observation, InvalidationAndDestructionEndDeliveryAndReleaseTheHandler) {
    Observable<int> property(0);
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    int calls = 0;
    auto token = property.observe(Options::new_, [&calls, held](const auto&) { ++calls; });
    held.reset();
    EXPECT_FALSE(watch.expired()); // the token keeps its handler alive
    token->invalidate();
    EXPECT_TRUE(watch.expired());
    token->invalidate(); // twice is harmless
    property.set(1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(property.observerCount(), 0u);
    {
        auto scoped = property.observe(Options::new_, [&](const auto&) { ++calls; });
        property.set(2);
    }
    property.set(3);
    EXPECT_EQ(calls, 1);

    // A token may outlive its property (the address sanitizer watches this).
    {
        Observable<int> gone(0);
        token = gone.observe(Options::new_, [](const auto&) {});
    }
    token->invalidate();
}

TEST(NotificationCenter, RemoveObserverDropsAllOfItsRegistrations) {
    auto& center = NSNotificationCenter::defaultCenter();
    int a = 0, b = 0;
    int observerA, observerB;
    center.addObserver(&observerA, "subjectAreaDidChange", [&](const NSNotification&) { ++a; });
    center.addObserver(&observerA, "other", [&](const NSNotification&) { ++a; });
    center.addObserver(&observerB, "subjectAreaDidChange", [&](const NSNotification&) { ++b; });
    center.post({"subjectAreaDidChange"});
    center.removeObserver(&observerA);
    center.post({"subjectAreaDidChange"});
    center.post({"other"});
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(center.observerCount(&observerA), 0u);
    center.removeObserver(&observerB);
}
