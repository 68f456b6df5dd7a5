#include "foundation/Format.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <vector>

std::string stringWithFormat(const char* format, ...) {
    if (!format)
        return {};
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (size > 0) {
        std::vector<char> buffer(static_cast<size_t>(size) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        out.assign(buffer.data(), static_cast<size_t>(size));
    }
    va_end(args);
    return out;
}

std::string shortestDecimal(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    // Swift writes whole doubles with a trailing ".0".
    if (text.find_first_of(".eEn") == std::string::npos)
        text += ".0";
    return text;
}
