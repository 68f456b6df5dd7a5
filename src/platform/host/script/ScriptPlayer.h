#pragma once
// Plays a script on its own thread, as a person would work through it: one command after
// another, waits in real time or in presented frames. The commands that touch the screen,
// the device or files are handed to ScriptActions, which does each where it belongs (UI
// work on the main thread).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host/script/ScriptParser.h"
#include "host/statistics/FrameCounter.h"

namespace host {

class ScriptActions {
  public:
    virtual ~ScriptActions() = default;
    // On the script thread: everything but the waits and quit.
    virtual void perform(const script::Step& step) = 0;
    // On the script thread, as it leaves: `cancelled` false means the script said quit or
    // ran out, and the program should quit.
    virtual void scriptFinished(bool cancelled) = 0;
};

class ScriptPlayer {
  public:
    struct Settings {
        // A frame wait ends (with a line on standard error) when no frame comes this long.
        std::chrono::steady_clock::duration stallLimit = std::chrono::seconds(10);
        // Scripts whose waits add up to more than this report progress...
        std::chrono::steady_clock::duration longScript = std::chrono::seconds(15);
        // ...this often.
        std::chrono::steady_clock::duration progressInterval = std::chrono::seconds(5);
    };

    ScriptPlayer(script::Script script, ScriptActions& actions, FrameCounter& frames, Settings settings);
    ~ScriptPlayer(); // cancels and joins
    ScriptPlayer(const ScriptPlayer&) = delete;
    ScriptPlayer& operator=(const ScriptPlayer&) = delete;

    void start();
    // Any thread: the wait in progress ends at once and no further command runs.
    void cancel();
    // Whether the thread has left the script (ended, quit or cancelled).
    bool finished() const { return finished_.load(); }
    void join();

  private:
    void run();
    bool waitFor(std::chrono::milliseconds duration); // false when cancelled
    bool waitForFrames(const script::Step& step, uint64_t frames);
    void reportProgress(size_t index, bool force);

    script::Script script_;
    ScriptActions& actions_;
    FrameCounter& frames_;
    Settings settings_;
    bool reportsProgress_ = false;
    std::chrono::steady_clock::time_point lastProgress_;
    size_t currentStep_ = 0;

    std::mutex mutex_;
    std::condition_variable cancelled_;
    bool cancel_ = false;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace host
