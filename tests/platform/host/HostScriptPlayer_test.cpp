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
using Clock = std::chrono::steady_clock;

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

struct Played {
    host::FrameCounter frames;
    RecordingActions actions{frames};
    host::ScriptPlayer player;
    explicit Played(std::string_view text, Clock::duration stallLimit = 50ms)
        : player(std::get<host::script::Script>(host::script::parseScript(text)), actions, frames,
                 host::ScriptPlayer::Settings{.stallLimit = stallLimit}) {}
};

TEST(ScriptPlayer, AFrameWaitLastsUntilThoseFramesArePresented) {
    Played run("tap\nwait 30 frames\ntap\n", 10s);
    std::atomic<bool> done{false};
    // A stand-in for the GPU queue, presenting about a thousand frames a second.
    std::thread gpu([&] {
        for (; !done; std::this_thread::sleep_for(1ms))
            run.frames.frameArrived();
    });
    const auto start = Clock::now();
    run.player.start();
    run.player.join();
    done = true;
    gpu.join();
    ASSERT_EQ(run.actions.framesSeen.size(), 2u);
    EXPECT_GE(run.actions.framesSeen[1], run.actions.framesSeen[0] + 30);
    EXPECT_LT(Clock::now() - start, 5s) << "the wait ended with the frames, not by giving up";
}

TEST(ScriptPlayer, CancellingEndsAnyWaitAtOnceAndRunsNothingMore) {
    for (const char* wait : {"wait 3600s", "wait 10000000 frames"}) {
        Played run(std::string("tap\n") + wait + "\ntap\n", 10s);
        run.player.start();
        run.actions.waitForLines(1);
        const auto start = Clock::now();
        run.player.cancel();
        run.player.join();
        EXPECT_LT(Clock::now() - start, 5s) << wait;
        EXPECT_EQ(run.actions.lines, (std::vector<int>{1})) << wait;
        EXPECT_TRUE(run.actions.finished && run.actions.cancelled);
    }
}

} // namespace
