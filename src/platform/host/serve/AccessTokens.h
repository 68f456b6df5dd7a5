#pragma once
// The secrets a served page is reached with: one to watch, another to work the controls.
// A token is 128 random bits from the kernel, written as 32 hexadecimal digits, so it can
// stand in a URL as it is.
#include <optional>
#include <string>

namespace host {

// A fresh random token.
std::string randomToken();
// The token kept in `file` (its first line, without surrounding blanks): at least 16
// characters of letters, digits, '-', '_' and '.'; nothing with `problem` otherwise.
std::optional<std::string> readTokenFile(const std::string& file, std::string& problem);
// Whether `given` is `token`, in time that does not depend on where they differ.
bool tokenMatches(const std::string& given, const std::string& token);

} // namespace host
