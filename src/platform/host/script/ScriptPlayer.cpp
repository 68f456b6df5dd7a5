#include "host/script/ScriptPlayer.h"

#include <cstdio>
#include <variant>

#include "foundation/Print.h"

namespace host {
namespace {
using Clock = std::chrono::steady_clock;
}

ScriptPlayer::ScriptPlayer(script::Script script, ScriptActions& actions, FrameCounter& frames,
                           Settings settings)
    : script_(std::move(script)), actions_(actions), frames_(frames), settings_(settings) {
    Clock::duration waited{};
    for (const auto& step : script_.steps)
        if (auto* wait = std::get_if<script::Wait>(&step.command))
            waited += wait->duration;
    reportsProgress_ = waited > settings_.longScript;
}

ScriptPlayer::~ScriptPlayer() {
    cancel();
    join();
}

void ScriptPlayer::start() {
    lastProgress_ = Clock::now();
    thread_ = std::thread([this] { run(); });
}

void ScriptPlayer::cancel() {
    {
        std::lock_guard lock(mutex_);
        cancel_ = true;
    }
    cancelled_.notify_all();
    frames_.interrupt();
}

void ScriptPlayer::join() {
    if (thread_.joinable())
        thread_.join();
}

void ScriptPlayer::reportProgress(size_t index, bool force) {
    if (!reportsProgress_)
        return;
    const auto now = Clock::now();
    if (!force && now - lastProgress_ < settings_.progressInterval)
        return;
    lastProgress_ = now;
    foundation::logError("script: line " + std::to_string(script_.steps[index].line) + ", command " +
                         std::to_string(index + 1) + " of " + std::to_string(script_.steps.size()));
}

bool ScriptPlayer::waitFor(std::chrono::milliseconds duration) {
    const auto end = Clock::now() + duration;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (cancel_)
            return false;
        const auto now = Clock::now();
        if (now >= end)
            return true;
        auto until = end;
        if (reportsProgress_)
            until = std::min(until, lastProgress_ + settings_.progressInterval);
        if (cancelled_.wait_until(lock, until, [this] { return cancel_; }))
            return false;
        if (reportsProgress_ && Clock::now() < end) {
            lock.unlock();
            reportProgress(currentStep_, false);
            lock.lock();
        }
    }
}

bool ScriptPlayer::waitForFrames(const script::Step& step, uint64_t frames) {
    const uint64_t first = frames_.count();
    const uint64_t target = first + frames;
    for (;;) {
        auto deadline = Clock::time_point::max();
        if (reportsProgress_)
            deadline = lastProgress_ + settings_.progressInterval;
        switch (frames_.waitFor(target, settings_.stallLimit, deadline)) {
        case FrameCounter::WaitResult::reached:
            return true;
        case FrameCounter::WaitResult::interrupted:
            return false;
        case FrameCounter::WaitResult::deadline:
            reportProgress(currentStep_, false);
            break;
        case FrameCounter::WaitResult::stalled: {
            char limit[32];
            std::snprintf(limit, sizeof limit, "%g",
                          std::chrono::duration<double>(settings_.stallLimit).count());
            foundation::logError("script:" + std::to_string(step.line) + ": no frame for " + limit +
                                 " s; the wait ends after " + std::to_string(frames_.count() - first) +
                                 " of " + std::to_string(frames) + " frames");
            return true;
        }
        }
    }
}

void ScriptPlayer::run() {
    // A script acts on the screen as its user would: once it shows its first picture. By
    // then the work the application queued while starting (the observation of the device
    // among it) has run, so a first command that the device reports (a pressure level)
    // cannot come before anyone listens. A camera that sends nothing holds it back no
    // longer than a frame wait would.
    bool quit =
        !script_.steps.empty() && frames_.waitFor(1, settings_.stallLimit, Clock::time_point::max()) ==
                                      FrameCounter::WaitResult::interrupted;
    for (size_t index = 0; index < script_.steps.size() && !quit; ++index) {
        {
            std::lock_guard lock(mutex_);
            if (cancel_)
                break;
        }
        currentStep_ = index;
        reportProgress(index, false);
        const auto& step = script_.steps[index];
        bool goOn = true;
        if (auto* wait = std::get_if<script::Wait>(&step.command))
            goOn = waitFor(wait->duration);
        else if (auto* frames = std::get_if<script::WaitFrames>(&step.command))
            goOn = waitForFrames(step, frames->frames);
        else if (std::holds_alternative<script::Quit>(step.command))
            quit = true;
        else
            actions_.perform(step);
        if (!goOn)
            break;
    }
    bool cancelled;
    {
        std::lock_guard lock(mutex_);
        cancelled = cancel_;
    }
    finished_.store(true);
    actions_.scriptFinished(cancelled);
}

} // namespace host
