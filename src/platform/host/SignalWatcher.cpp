#include "host/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace host {
namespace {

// The pipe's write end, for the handler; -1 while nothing watches.
std::atomic<int> signalPipe{-1};

void onSignal(int signal) {
    const int savedErrno = errno;
    const int descriptor = signalPipe.load();
    if (descriptor >= 0) {
        const char byte = static_cast<char>(signal);
        [[maybe_unused]] const ssize_t ignored = ::write(descriptor, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

std::unique_ptr<SignalWatcher> SignalWatcher::start(std::function<void()> callback) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return nullptr;
    int expected = -1;
    if (!signalPipe.compare_exchange_strong(expected, ends[1])) {
        ::close(ends[0]);
        ::close(ends[1]);
        return nullptr;
    }
    std::unique_ptr<SignalWatcher> watcher(new SignalWatcher());
    watcher->onSignal_ = std::move(callback);
    watcher->readEnd_ = ends[0];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    // The thread holds its own copies: it may outlive the watcher by a moment (see below).
    watcher->thread_ = std::thread([readEnd = ends[0], onSignal = watcher->onSignal_] {
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
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
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
