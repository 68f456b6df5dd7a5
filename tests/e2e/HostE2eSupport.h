#pragma once
// Running the built program the way a person or a script does, and reading what it
// leaves behind: its two output streams, its exit status, and its pictures.
#pragma GCC system_header // stb_image's implementation is not ours to warn about
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifdef FERNHOLD_E2E_PNG_IMPLEMENTATION
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#endif
#include <stb/stb_image.h>

namespace e2e {

struct Run {
    int status = -1;
    std::string out, err;
    std::vector<std::string> errLines() const { return lines(err); }
    std::vector<std::string> outLines() const { return lines(out); }
    // The print-ui lines: the JSON objects on standard error.
    std::vector<std::string> uiLines() const {
        std::vector<std::string> found;
        for (auto& line : errLines())
            if (line.rfind("{\"", 0) == 0)
                found.push_back(line);
        return found;
    }
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> result;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);)
            result.push_back(line);
        return result;
    }
};

inline std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
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

// Runs the program in `folder` with `args`, `input` on standard input, the environment
// plus `environment` ("NAME=value ..."), killed after `limitSeconds`. Each line of
// standard error reaches `onErrorLine` (when given) as the program writes it, so a test
// can act at the moment the program says it has got somewhere.
inline Run runProgram(const std::filesystem::path& folder, const std::vector<std::string>& args,
                      const std::string& input = "",
                      const std::string& environment = "env -u DISPLAY -u WAYLAND_DISPLAY",
                      int limitSeconds = 90,
                      const std::function<void(const std::string&)>& onErrorLine = nullptr) {
    { std::ofstream(folder / "stdin.txt") << input; }
    std::string command = "cd " + quote(folder.string()) + " && " + environment + " timeout -k 5 " +
                          std::to_string(limitSeconds) + " " + quote(FERNHOLD_BINARY);
    for (const auto& arg : args)
        command += " " + quote(arg);
    // Standard error into the pipe we read, then standard output into its file.
    command += " <stdin.txt 2>&1 >stdout.txt";
    Run run;
    FILE* errors = popen(command.c_str(), "r");
    if (!errors)
        return run;
    std::string line;
    for (int c; (c = std::fgetc(errors)) != EOF;) {
        run.err += char(c);
        if (c != '\n') {
            line += char(c);
            continue;
        }
        if (onErrorLine)
            onErrorLine(line);
        line.clear();
    }
    if (!line.empty() && onErrorLine)
        onErrorLine(line);
    const int raw = pclose(errors);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(folder / "stdout.txt");
    return run;
}

inline std::string writeScript(const std::filesystem::path& folder, const std::string& text) {
    std::ofstream(folder / "test.fhs") << text;
    return (folder / "test.fhs").string();
}

// A number from a print-ui line: `"key":N`, or -1.
inline long uiNumber(const std::string& line, const std::string& key) {
    std::smatch match;
    if (!std::regex_search(line, match, std::regex("\"" + key + "\":(-?[0-9]+)")))
        return -1;
    return std::stol(match[1]);
}

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    bool empty() const { return rgba.empty(); }
    const unsigned char* at(int x, int y) const {
        return rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
    }
    // How many pixels are exactly this colour.
    size_t count(unsigned char r, unsigned char g, unsigned char b) const {
        size_t n = 0;
        for (size_t i = 0; i + 3 < rgba.size(); i += 4)
            n += rgba[i] == r && rgba[i + 1] == g && rgba[i + 2] == b;
        return n;
    }
};

inline Picture readPng(const std::filesystem::path& path) {
    Picture picture;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.string().c_str(), &picture.width, &picture.height, &channels, 4);
    if (!pixels)
        return picture;
    picture.rgba.assign(pixels, pixels + static_cast<size_t>(picture.width) * picture.height * 4);
    stbi_image_free(pixels);
    return picture;
}

// The controls' accent blue: the filled part of every visible slider track.
constexpr unsigned char accent[3] = {10, 132, 255};

} // namespace e2e
