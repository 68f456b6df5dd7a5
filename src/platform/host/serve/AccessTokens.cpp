#include "host/serve/AccessTokens.h"

#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace host {

std::string randomToken() {
    std::array<unsigned char, 16> bytes{};
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got > 0)
            filled += size_t(got);
        else if (errno != EINTR)
            std::abort(); // no randomness from the kernel: no token anyone could trust
    }
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : bytes) {
        token += digits[byte >> 4];
        token += digits[byte & 15];
    }
    return token;
}

std::optional<std::string> readTokenFile(const std::string& file, std::string& problem) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        problem = "cannot read the token file '" + file + "'" +
                  (errno ? std::string(": ") + std::strerror(errno) : "");
        return std::nullopt;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && blank(line.back()))
        line.pop_back();
    line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), blank));
    const bool urlSafe = std::all_of(line.begin(), line.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_' || c == '.';
    });
    if (line.size() < 16 || !urlSafe) {
        problem = "the token in '" + file + "' must be at least 16 letters, digits, '-', '_' or '.'";
        return std::nullopt;
    }
    return line;
}

bool tokenMatches(const std::string& given, const std::string& token) {
    if (token.empty() || given.size() != token.size())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

} // namespace host
