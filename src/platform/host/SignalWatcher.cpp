#include "host/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace host {
namespace {

// The pipe's write end, for the handler; -1 while nothing catches the signals.
std::atomic<int> signalPipe{-1};
// The read end made by catchEarly(), for the watcher that starts later.
int earlyReadEnd = -1;
// Signals caught while no watcher runs; a second one ends the process at once.
std::atomic<bool> watching{false};
std::atomic<int> caughtEarly{0};

void setHandlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void onSignal(int signal) {
    const int savedErrno = errno;
    if (!watching.load() && caughtEarly.fetch_add(1) > 0) {
        // Start-up is stuck, or the user will not wait for it: the default, at once.
        setHandlers(SIG_DFL);
        ::raise(signal);
    }
    const int descriptor = signalPipe.load();
    if (descriptor >= 0) {
        const char byte = static_cast<char>(signal);
        [[maybe_unused]] const ssize_t ignored = ::write(descriptor, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

void SignalWatcher::catchEarly() {
    int ends[2];
    if (signalPipe.load() >= 0 || ::pipe2(ends, O_CLOEXEC) != 0)
        return;
    earlyReadEnd = ends[0];
    signalPipe = ends[1];
    setHandlers(onSignal);
}

std::unique_ptr<SignalWatcher> SignalWatcher::start(std::function<void()> callback) {
    int readEnd = std::exchange(earlyReadEnd, -1);
    if (readEnd < 0) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return nullptr;
        int expected = -1;
        if (!signalPipe.compare_exchange_strong(expected, ends[1])) {
            ::close(ends[0]);
            ::close(ends[1]);
            return nullptr;
        }
        readEnd = ends[0];
    }
    std::unique_ptr<SignalWatcher> watcher(new SignalWatcher());
    watcher->onSignal_ = std::move(callback);
    watcher->readEnd_ = readEnd;
    watching = true;
    setHandlers(onSignal);
    // The thread holds its own copies: it may outlive the watcher by a moment (see below).
    // Signals caught before it started are waiting in the pipe.
    watcher->thread_ = std::thread([readEnd, onSignal = watcher->onSignal_] {
        for (;;) {
            char byte = 0;
            const ssize_t n = ::read(readEnd, &byte, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || byte == 0)
                return; // the pipe closed, or the destructor's wake-up
            onSignal();
        }
    });
    return watcher;
}

SignalWatcher::~SignalWatcher() {
    // The signals are fatal again, as before the watcher.
    setHandlers(SIG_DFL);
    watching = false;
    const int writeEnd = signalPipe.exchange(-1);
    if (writeEnd >= 0) {
        const char stop = 0;
        [[maybe_unused]] const ssize_t ignored = ::write(writeEnd, &stop, 1);
    }
    // The write end stays open: a handler that loaded it just before may still write.
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach(); // the last owner let go inside onSignal_: the thread ends by itself
        return;
    }
    if (thread_.joinable())
        thread_.join();
    ::close(readEnd_);
}

} // namespace host
