// The script player's thread: commands in order, waits in time and frames, quit and
// cancellation, and that it always tells how it left.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host/ScriptPlayer.h"

namespace {

using namespace std::chrono_literals;

class RecordingActions : public host::ScriptActions {
  public:
    explicit RecordingActions(host::FrameCounter& frames) : frames_(frames) {}
    void perform(const host::script::Step& step) override {
        std::lock_guard lock(mutex_);
        lines.push_back(step.line);
        framesSeen.push_back(frames_.count());
        changed_.notify_all();
    }
    void scriptFinished(bool wasCancelled) override {
        std::lock_guard lock(mutex_);
        finished = true;
        cancelled = wasCancelled;
        changed_.notify_all();
    }
    void waitForLines(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return lines.size() >= count; });
    }
    std::vector<int> lines;
    std::vector<uint64_t> framesSeen;
    bool finished = false, cancelled = false;

  private:
    host::FrameCounter& frames_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

host::script::Script script(std::string_view text) {
    return std::get<host::script::Script>(host::script::parseScript(text));
}

host::ScriptPlayer::Settings quick() {
    host::ScriptPlayer::Settings settings;
    settings.stallLimit = 50ms;
    return settings;
}

TEST(ScriptPlayer, RunsCommandsInOrderAndEndsAtQuit) {
    host::FrameCounter frames;
    RecordingActions actions(frames);
    host::ScriptPlayer player(script("tap\nwait 20ms\nswipe left\nquit\ndoubletap\n"), actions, frames,
                              quick());
    const auto start = std::chrono::steady_clock::now();
    player.start();
    player.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
    EXPECT_EQ(actions.lines, (std::vector<int>{1, 3})); // nothing after quit
    EXPECT_TRUE(actions.finished);
    EXPECT_FALSE(actions.cancelled);
    EXPECT_TRUE(player.finished());
}

TEST(ScriptPlayer, AFrameWaitLastsUntilThoseFramesArePresented) {
    host::FrameCounter frames;
    RecordingActions actions(frames);
    host::ScriptPlayer player(script("tap\nwait 30 frames\ntap\n"), actions, frames,
                              host::ScriptPlayer::Settings{});
    std::atomic<bool> done{false};
    // A stand-in for the GPU queue, presenting about a thousand frames a second.
    std::thread gpu([&] {
        while (!done) {
            frames.frameArrived();
            std::this_thread::sleep_for(1ms);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    player.start();
    player.join();
    done = true;
    gpu.join();
    ASSERT_EQ(actions.framesSeen.size(), 2u);
    EXPECT_GE(actions.framesSeen[1], actions.framesSeen[0] + 30);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s)
        << "the wait ended with the frames, not by giving up";
    EXPECT_FALSE(actions.cancelled);
}

TEST(ScriptPlayer, AFrameWaitWithoutFramesEndsAndTheScriptGoesOn) {
    host::FrameCounter frames;
    RecordingActions actions(frames);
    host::ScriptPlayer player(script("wait 5 frames\nprint-ui\n"), actions, frames, quick());
    player.start();
    player.join();
    EXPECT_EQ(actions.lines, (std::vector<int>{2}));
    EXPECT_TRUE(actions.finished);
    EXPECT_FALSE(actions.cancelled);
}

TEST(ScriptPlayer, CancellingEndsAnyWaitAtOnceAndRunsNothingMore) {
    for (const char* wait : {"wait 3600s", "wait 10000000 frames"}) {
        host::FrameCounter frames;
        RecordingActions actions(frames);
        host::ScriptPlayer player(script(std::string("tap\n") + wait + "\ntap\n"), actions, frames,
                                  host::ScriptPlayer::Settings{});
        player.start();
        actions.waitForLines(1);
        const auto start = std::chrono::steady_clock::now();
        player.cancel();
        player.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << wait;
        EXPECT_EQ(actions.lines, (std::vector<int>{1})) << wait;
        EXPECT_TRUE(actions.finished);
        EXPECT_TRUE(actions.cancelled);
    }
}

TEST(ScriptPlayer, AnEmptyScriptEndsTheRunAtOnce) {
    host::FrameCounter frames;
    RecordingActions actions(frames);
    host::ScriptPlayer player(script("# nothing to do\n"), actions, frames, quick());
    player.start();
    player.join();
    EXPECT_TRUE(actions.finished);
    EXPECT_FALSE(actions.cancelled);
    EXPECT_TRUE(actions.lines.empty());
}

} // namespace
