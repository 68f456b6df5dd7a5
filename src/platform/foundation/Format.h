#pragma once
// String(format:) and the textual forms of values the system prints.
#include <string>

// C-style formatting of a single value, as String(format:) does it.
std::string stringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The shortest decimal text that reads back as the same double (Swift's description).
std::string shortestDecimal(double value);

// "true" or "false".
inline const char* boolText(bool value) {
    return value ? "true" : "false";
}
