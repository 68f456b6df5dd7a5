#pragma once
// Running the built program under watch: its two output streams read line by line while
// it runs, so a test can see progress, sample the process's memory and stop it when it
// hangs, instead of only reading what it left behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace reliability {

using Clock = std::chrono::steady_clock;

// Resident memory of `pid` in KiB (VmRSS in /proc/PID/status); nothing once it has gone.
inline std::optional<long> residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return std::nullopt;
}

// A running program with standard output and error on pipes and standard input empty.
class WatchedProcess {
  public:
    enum class Stream { out, err };
    struct Exit {
        bool exited = false; // false: killed by a signal
        int status = -1;     // the exit status, or the signal
    };

    // `args[0]` is the program. `set` adds "NAME=value" entries, `unset` removes names.
    WatchedProcess(const std::vector<std::string>& args, const std::vector<std::string>& set,
                   const std::vector<std::string>& unset) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            std::string text(*entry);
            const std::string name = text.substr(0, text.find('='));
            bool dropped = false;
            for (const auto& gone : unset)
                dropped = dropped || name == gone;
            for (const auto& added : set)
                dropped = dropped || name == added.substr(0, added.find('='));
            if (!dropped)
                environment.push_back(text);
        }
        environment.insert(environment.end(), set.begin(), set.end());

        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv, envp;
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        for (const auto& entry : environment)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
        const int failed = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
        if (failed != 0) {
            close(fds_[0]);
            close(fds_[1]);
            throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(failed));
        }
    }

    ~WatchedProcess() {
        if (!reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : fds_)
            if (fd >= 0)
                close(fd);
    }
    WatchedProcess(const WatchedProcess&) = delete;
    WatchedProcess& operator=(const WatchedProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Waits up to `limit` for output; hands every whole line to `onLine`. False once both
    // streams have ended (the program has closed them, normally by exiting).
    bool pump(Clock::duration limit, const std::function<void(Stream, const std::string&)>& onLine) {
        pollfd polled[2];
        int count = 0;
        for (int i = 0; i < 2; ++i)
            if (fds_[i] >= 0)
                polled[count++] = pollfd{fds_[i], POLLIN, 0};
        if (count == 0)
            return false;
        const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count());
        if (poll(polled, nfds_t(count), ms) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        for (int i = 0; i < count; ++i) {
            if (!(polled[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const int index = polled[i].fd == fds_[0] ? 0 : 1;
            char buffer[65536];
            const ssize_t got = read(fds_[index], buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && errno == EINTR)
                    continue;
                close(fds_[index]);
                fds_[index] = -1;
                if (!partial_[index].empty())
                    onLine(Stream(index), partial_[index]);
                partial_[index].clear();
                continue;
            }
            std::string& pending = partial_[index];
            pending.append(buffer, size_t(got));
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
                onLine(Stream(index), pending.substr(start, end - start));
            pending.erase(0, start);
        }
        return fds_[0] >= 0 || fds_[1] >= 0;
    }

    void killNow() { kill(pid_, SIGKILL); }

    Exit wait() {
        int raw = 0;
        while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        if (WIFEXITED(raw))
            return Exit{true, WEXITSTATUS(raw)};
        return Exit{false, WIFSIGNALED(raw) ? WTERMSIG(raw) : -1};
    }

  private:
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    std::string partial_[2];
    bool reaped_ = false;
};

} // namespace reliability
