#pragma once
// Running the built program the way a person or a script does: its standard error read
// line by line while it runs (so a test can act on progress, or stop a hang), its standard
// output, its exit status, and the pictures it leaves.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "capture/imaging/StillImageDecoder.h"

namespace e2e {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

inline std::string quoted(const Lines& words) {
    std::string text;
    for (const auto& word : words) {
        text += " '";
        for (char c : word)
            text += c == '\'' ? std::string("'\\''") : std::string(1, c);
        text += "'";
    }
    return text;
}

// A shell command that ends by exec-ing a program, and the lines it writes to standard
// output, read as they come.
class Process {
  public:
    explicit Process(const std::string& command) : pipe_(popen(("echo $$; exec " + command).c_str(), "re")) {
        if (!pipe_)
            throw std::runtime_error("cannot run " + command);
        std::string pid; // the shell's, which exec hands on to the program
        for (char c; read(fileno(pipe_), &c, 1) == 1 && c != '\n';)
            pid += c;
        pid_ = std::stoi(pid);
    }
    ~Process() {
        if (pipe_)
            stop(SIGKILL);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    pid_t pid() const { return pid_; }

    // Waits up to `limit` for output and hands every whole line to `onLine`. False once the
    // output has ended.
    bool pump(Clock::duration limit, const std::function<void(const std::string&)>& onLine) {
        pollfd polled{fileno(pipe_), POLLIN, 0};
        if (poll(&polled, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count())) > 0) {
            char buffer[65536];
            const ssize_t got = read(polled.fd, buffer, sizeof buffer);
            if (got <= 0 && !std::exchange(ended_, true) && !pending_.empty())
                pending_ += '\n'; // the last line, unfinished
            pending_.append(buffer, size_t(std::max<ssize_t>(got, 0)));
        }
        for (size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1))
            onLine(pending_.substr(0, end));
        return !ended_;
    }
    // All it writes from here to its end, line by line, waiting up to `limit` for each.
    std::string rest(Clock::duration limit) {
        std::string text;
        while (pump(limit, [&](const std::string& line) { text += line + "\n"; })) {
        }
        return text;
    }
    // The exit status, or -1 when a signal ended it.
    int wait() {
        const int raw = pclose(std::exchange(pipe_, nullptr));
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    int stop(int signal) {
        if (pid_ > 0)
            kill(pid_, signal);
        return wait();
    }

  private:
    FILE* pipe_;
    pid_t pid_ = -1;
    bool ended_ = false;
    std::string pending_;
};

struct Run {
    std::filesystem::path folder; // where it ran, and left its pictures
    int status = -1;
    std::string out, err;
    Lines outLines, errLines;
    // The print-ui lines: the JSON objects on standard error.
    Lines uiLines() const {
        Lines found;
        for (auto& line : errLines)
            if (line.starts_with("{\""))
                found.push_back(line);
        return found;
    }
};

inline std::string slurp(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

inline Lines linesOf(const std::string& text) {
    Lines lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

const Lines noDisplay{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
// No display, and these variables besides.
inline Lines noDisplayAnd(const Lines& variables) {
    Lines all = noDisplay;
    all.insert(all.end(), variables.begin(), variables.end());
    return all;
}

// The program in `folder` with `args` and `environment` (as `env` takes it), reading
// `input`, its standard output to `folder`/stdout.txt and its standard error to the pipe.
inline std::string programCommand(const std::filesystem::path& folder, const Lines& args,
                                  const Lines& environment = noDisplay, const std::string& input = "") {
    std::ofstream(folder / "stdin.txt") << input;
    Lines command{"-C", folder.string()};
    command.insert(command.end(), environment.begin(), environment.end());
    command.push_back(FERNHOLD_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    // Without --camera the program opens the machine's first webcam: runs on a developer's
    // laptop must still see the virtual camera (emulated webcams are asked for by name).
    const bool emulated = std::any_of(environment.begin(), environment.end(), [](const std::string& e) {
        return e.starts_with("FERNHOLD_EMULATED_DEV=");
    });
    if (std::find(args.begin(), args.end(), "--camera") == args.end() && !emulated)
        command.insert(command.end(), {"--camera", "virtual"});
    return "env" + quoted(command) + " <" + quoted({(folder / "stdin.txt").string()}) + " 2>&1 >" +
           quoted({(folder / "stdout.txt").string()});
}

// Runs the program (see programCommand), killed after `limitSeconds`. Each line of
// standard error reaches `onErrorLine` as the program writes it, so a test can act when
// the program says it has got somewhere.
inline Run runProgram(const std::filesystem::path& folder, const Lines& args, const std::string& input = "",
                      const Lines& environment = noDisplay, int limitSeconds = 90,
                      const std::function<void(const std::string&)>& onErrorLine = nullptr) {
    Process program(programCommand(folder, args, environment, input));
    Run run;
    run.folder = folder;
    const auto deadline = Clock::now() + std::chrono::seconds(limitSeconds);
    while (Clock::now() < deadline && program.pump(deadline - Clock::now(), [&](const std::string& line) {
        run.err += line + "\n";
        run.errLines.push_back(line);
        if (onErrorLine)
            onErrorLine(line);
    })) {
    }
    run.status = Clock::now() < deadline ? program.wait() : program.stop(SIGKILL);
    run.out = slurp(folder / "stdout.txt");
    run.outLines = linesOf(run.out);
    return run;
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

// Whether `program` is on the PATH.
inline bool installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// A number from a print-ui line (`"key":N`) or the final statistics (`"key": N`), or -1.
inline long uiNumber(const std::string& line, const std::string& key) {
    std::smatch match;
    return std::regex_search(line, match, std::regex("\"" + key + "\": ?(-?[0-9]+)")) ? std::stol(match[1])
                                                                                      : -1;
}

// One member of a view's object in a print-ui line, as written ("true", "0.8", "\"Pos 0.800\""),
// or empty.
inline std::string uiField(const std::string& ui, const std::string& view, const std::string& key) {
    std::smatch m;
    return std::regex_search(ui, m, std::regex("\"" + view + "\":\\{[^}]*\"" + key + "\":([^,}]*)"))
               ? m[1].str()
               : "";
}

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    // How many pixels are exactly this colour.
    size_t count(const unsigned char (&rgb)[3]) const {
        size_t n = 0;
        for (size_t i = 0; i + 3 < rgba.size(); i += 4)
            n += rgba[i] == rgb[0] && rgba[i + 1] == rgb[1] && rgba[i + 2] == rgb[2];
        return n;
    }
};

// Our own snapshots, read back with the program's decoder (which never scales a PNG).
inline Picture readPng(const std::filesystem::path& path) {
    const std::string bytes = slurp(path);
    auto image =
        decodeStillImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1, 1, nullptr);
    return image ? Picture{image->width, image->height, std::move(image->rgba)} : Picture{};
}

// The controls' accent blue: the filled part of every visible slider track.
constexpr unsigned char accent[3] = {10, 132, 255};

// The number under `key` in a flat JSON object ({"produced":12,...}); nothing when the
// key is missing or its value is not a number.
inline std::optional<double> jsonNumberField(std::string_view json, std::string_view key) {
    // Built by appending: GCC 12 at -O3 misreads `"\"" + std::string(key) + "\""` as an
    // overlapping copy (-Wrestrict).
    std::string quotedKey;
    quotedKey.reserve(key.size() + 2);
    quotedKey.append(1, '"').append(key).append(1, '"');
    size_t at = 0;
    while ((at = json.find(quotedKey, at)) != std::string_view::npos) {
        size_t i = at + quotedKey.size();
        at = i;
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t'))
            ++i;
        if (i >= json.size() || json[i] != ':')
            continue; // the text was a value, not a key
        ++i;
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t'))
            ++i;
        double value = 0;
        auto [end, error] = std::from_chars(json.data() + i, json.data() + json.size(), value);
        if (error != std::errc{} || !std::isfinite(value))
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

// For a run whose resident memory is measured: under the address sanitizer freed memory
// waits in a quarantine (256 MiB by default) before reuse, and a program that frees little
// per frame fills it slowly, so its resident size climbs through the whole run. A small
// quarantine fills during the warm-up. The ASAN_OPTIONS entry for the program's environment.
inline std::string smallQuarantine() {
    const char* options = std::getenv("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" + std::string(options ? options : "") + ":quarantine_size_mb=16";
}

} // namespace e2e
