#pragma once
// SIGINT, SIGTERM and SIGHUP as a request to quit. The handler only writes a byte to a pipe (the
// one thing a signal handler may safely do here); a thread of its own reads the pipe and
// calls `onSignal`, which may then do anything. One watcher at a time; while none is
// installed the signals end the process as they do by default.
#include <functional>
#include <memory>
#include <thread>

namespace host {

class SignalWatcher {
  public:
    // From the start of a run, before anything can watch: a signal that comes while the
    // program starts waits for the watcher, which then ends the run cleanly as soon as it
    // has started. A second one before then ends the process at once, as it would by
    // default, for a start-up that hangs.
    static void catchEarly();
    // Null when the pipe or the handlers cannot be had (the signals then end the process
    // as they would by default).
    static std::unique_ptr<SignalWatcher> start(std::function<void()> onSignal);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

  private:
    SignalWatcher() = default;

    std::function<void()> onSignal_;
    int readEnd_ = -1;
    std::thread thread_;
};

} // namespace host
