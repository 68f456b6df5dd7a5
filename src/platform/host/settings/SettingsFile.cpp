#include "host/settings/SettingsFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "foundation/HomeFolder.h"
#include "foundation/Print.h"

namespace host {
namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<SettingsDocument> parseSettings(std::string_view text, std::string* problem) {
    SettingsDocument document;
    std::string section;
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trimmed(text.substr(at, end - at));
        at = end + 1;
        ++number;
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']' && line.size() > 2) {
            section = std::string(trimmed(line.substr(1, line.size() - 2)));
            document[section];
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || section.empty() || trimmed(line.substr(0, equals)).empty() ||
            line.find('\0') != std::string_view::npos) {
            if (problem)
                *problem = "line " + std::to_string(number) +
                           (section.empty() ? ": a setting before any [section]" : ": not key = value");
            return std::nullopt;
        }
        document[section][std::string(trimmed(line.substr(0, equals)))] =
            std::string(trimmed(line.substr(equals + 1)));
    }
    return document;
}

std::string formatSettings(const SettingsDocument& document) {
    std::string text = "# Fernhold's settings, written when it quits; edit them while it is not running.\n";
    for (const auto& [section, values] : document) {
        text += "\n[" + section + "]\n";
        for (const auto& [key, value] : values)
            text += key + " = " + value + "\n";
    }
    return text;
}

SettingsDocument SettingsFile::load() const {
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::string problem;
    if (auto document = parseSettings(text.str(), &problem))
        return *document;
    std::filesystem::path bad = path_;
    bad += ".bad";
    std::error_code error;
    std::filesystem::rename(path_, bad, error);
    foundation::logError("settings: " + path_.string() + " " + problem + "; kept as " + bad.string() +
                         ", starting from defaults");
    return {};
}

bool SettingsFile::save(const SettingsDocument& document) {
    std::error_code error;
    std::filesystem::create_directories(path_.parent_path(), error);
    std::filesystem::path temporary = path_;
    temporary += ".new";
    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            out << formatSettings(document);
            out.flush();
            written = bool(out);
        }
    }
    const int why = errno;
    if (written && ::rename(temporary.c_str(), path_.c_str()) == 0)
        return true;
    const int renameWhy = errno;
    std::filesystem::remove(temporary, error);
    if (!refusalReported_)
        foundation::logError("settings: cannot save to " + path_.string() + ": " +
                             std::strerror(written ? renameWhy : why) + "; nothing is saved");
    refusalReported_ = true;
    return false;
}

std::filesystem::path defaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (config && *config == '/')
        base = config;
    else
        base = foundation::homeFolder() / ".config";
    return base / "fernhold" / "settings.ini";
}

} // namespace host
