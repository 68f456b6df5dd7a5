#pragma once
// Running the built program the way a person or a script does: its two output streams
// read line by line while it runs (so a test can act on progress, or stop a hang), its
// exit status, and the pictures it leaves.
#pragma GCC system_header // stb_image's implementation is not ours to warn about
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef FERNHOLD_E2E_PNG_IMPLEMENTATION
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#endif
#include <stb/stb_image.h>

extern char** environ;

namespace e2e {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// A running program with standard output and error on pipes (`env` sets its folder and
// environment).
class Process {
  public:
    enum Stream { out, err };
    explicit Process(const Lines& args, const std::string& input = "/dev/null") {
        int pipes[2][2];
        if (pipe2(pipes[0], O_CLOEXEC) != 0 || pipe2(pipes[1], O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe for " + args[0]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipes[0][1], 1);
        posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 2);
        std::vector<char*> argv;
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const int failed = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 2; ++i) {
            close(pipes[i][1]);
            fds_[i] = pipes[i][0];
        }
        if (failed != 0) {
            close(fds_[0]);
            close(fds_[1]);
            throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(failed));
        }
    }
    ~Process() {
        if (!reaped_)
            stop(SIGKILL);
        for (int fd : fds_)
            if (fd >= 0)
                close(fd);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    pid_t pid() const { return pid_; }

    // Waits up to `limit` for output and hands every whole line to `onLine`. False once
    // both streams have ended (the program has closed them, normally by exiting).
    bool pump(Clock::duration limit, const std::function<void(Stream, const std::string&)>& onLine) {
        pollfd polled[2];
        nfds_t count = 0;
        for (int fd : fds_)
            if (fd >= 0)
                polled[count++] = pollfd{fd, POLLIN, 0};
        if (count == 0)
            return false;
        poll(polled, count, int(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count()));
        for (nfds_t i = 0; i < count; ++i) {
            if (!(polled[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const int index = polled[i].fd == fds_[0] ? 0 : 1;
            char buffer[65536];
            const ssize_t got = read(fds_[index], buffer, sizeof buffer);
            std::string& pending = partial_[index];
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                close(fds_[index]);
                fds_[index] = -1;
                if (!pending.empty())
                    onLine(Stream(index), pending);
                pending.clear();
                continue;
            }
            pending.append(buffer, size_t(got));
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
                onLine(Stream(index), pending.substr(start, end - start));
            pending.erase(0, start);
        }
        return fds_[0] >= 0 || fds_[1] >= 0;
    }
    // The exit status, or -1 when a signal ended it.
    int wait() {
        int raw = 0;
        while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    int stop(int signal) {
        kill(pid_, signal);
        return wait();
    }

  private:
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    std::string partial_[2];
    bool reaped_ = false;
};

struct Run {
    int status = -1;
    std::string out, err;
    Lines outLines, errLines;
    // The print-ui lines: the JSON objects on standard error.
    Lines uiLines() const {
        Lines found;
        for (auto& line : errLines)
            if (line.rfind("{\"", 0) == 0)
                found.push_back(line);
        return found;
    }
};

const Lines noDisplay{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};

// Runs the program in `folder` with `args`, `input` on standard input and `environment`
// (as `env` takes it), killed after `limitSeconds`. Each line of standard error reaches
// `onErrorLine` as the program writes it, so a test can act when the program says it has
// got somewhere.
inline Run runProgram(const std::filesystem::path& folder, const Lines& args, const std::string& input = "",
                      const Lines& environment = noDisplay, int limitSeconds = 90,
                      const std::function<void(const std::string&)>& onErrorLine = nullptr) {
    std::ofstream(folder / "stdin.txt") << input;
    Lines command{"env", "-C", folder.string()};
    command.insert(command.end(), environment.begin(), environment.end());
    command.push_back(FERNHOLD_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    Process program(command, (folder / "stdin.txt").string());
    Run run;
    const auto deadline = Clock::now() + std::chrono::seconds(limitSeconds);
    while (Clock::now() < deadline &&
           program.pump(deadline - Clock::now(), [&](Process::Stream s, auto& line) {
               (s == Process::out ? run.out : run.err) += line + "\n";
               (s == Process::out ? run.outLines : run.errLines).push_back(line);
               if (s == Process::err && onErrorLine)
                   onErrorLine(line);
           })) {
    }
    run.status = Clock::now() < deadline ? program.wait() : program.stop(SIGKILL);
    return run;
}

inline std::string slurp(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

// A fresh folder for one test's files.
inline std::filesystem::path scratchFolder(const std::string& name) {
    auto folder =
        std::filesystem::temp_directory_path() / ("fernhold-e2e-" + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline std::string writeScript(const std::filesystem::path& folder, const std::string& text) {
    std::ofstream(folder / "test.fhs", std::ios::binary) << text;
    return (folder / "test.fhs").string();
}

// A number from a print-ui line: `"key":N`, or -1.
inline long uiNumber(const std::string& line, const std::string& key) {
    std::smatch match;
    return std::regex_search(line, match, std::regex("\"" + key + "\":(-?[0-9]+)")) ? std::stol(match[1])
                                                                                    : -1;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    bool empty() const { return rgba.empty(); }
    const unsigned char* at(int x, int y) const { return rgba.data() + (size_t(y) * width + x) * 4; }
    // How many pixels are exactly this colour.
    size_t count(const unsigned char (&rgb)[3]) const {
        size_t n = 0;
        for (size_t i = 0; i + 3 < rgba.size(); i += 4)
            n += rgba[i] == rgb[0] && rgba[i + 1] == rgb[1] && rgba[i + 2] == rgb[2];
        return n;
    }
};

inline Picture readPng(const std::filesystem::path& path) {
    Picture picture;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.string().c_str(), &picture.width, &picture.height, &channels, 4);
    if (pixels)
        picture.rgba.assign(pixels, pixels + size_t(picture.width) * picture.height * 4);
    stbi_image_free(pixels);
    return picture;
}

// The controls' accent blue: the filled part of every visible slider track.
constexpr unsigned char accent[3] = {10, 132, 255};

} // namespace e2e
