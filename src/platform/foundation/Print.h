#pragma once
// The system's own diagnostic lines: one line per call on standard output, written whole,
// so lines printed from several threads never interleave. Everything else of ours goes
// to standard error through logError.
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

namespace foundation {

// Writes `line` followed by a newline to the current print sink.
void printLine(std::string_view line);
// Our own messages (errors, statistics, progress): standard error, one whole line.
void logError(std::string_view line);

// Tests replace the sink to read what the system prints; pass nullptr to restore stdout.
// A replacement sink is called from the printing threads and must be thread-safe.
using PrintSink = std::function<void(std::string_view line)>;
void setPrintSink(PrintSink sink);

// Ends the process with status 1 after writing `message` to standard output (the
// system's fatal line), and to standard error and the fatal-error presenter, where a
// person looks when the program was not started from a terminal.
[[noreturn]] void fatalError(std::string_view message);
// Where fatalError shows its message besides the two streams (a window's dialog); it is
// called on the failing thread and returns once the person has seen it. nullptr for none.
using FatalErrorPresenter = std::function<void(std::string_view message)>;
void setFatalErrorPresenter(FatalErrorPresenter presenter);

} // namespace foundation

// Swift's print: the arguments are written one after another, without separators.
template <typename... Args> void print(const Args&... args) {
    std::ostringstream out;
    (out << ... << args);
    foundation::printLine(out.str());
}
