// The test runner's main: the thread that runs the tests is the main thread, as the
// application's would be.
#include <gtest/gtest.h>

#include "dispatch/DispatchQueue.h"

int main(int argc, char** argv) {
    DispatchQueue::markMainThread();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
