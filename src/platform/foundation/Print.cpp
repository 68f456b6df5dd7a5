#include "foundation/Print.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace foundation {
namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
PrintSink& sink() {
    static PrintSink s;
    return s;
}
FatalErrorPresenter& presenter() {
    static FatalErrorPresenter p;
    return p;
}
void writeWhole(FILE* stream, std::string_view line) {
    std::string whole(line);
    whole.push_back('\n');
    std::fwrite(whole.data(), 1, whole.size(), stream);
    std::fflush(stream);
}
} // namespace

void printLine(std::string_view line) {
    PrintSink replacement;
    {
        std::lock_guard lock(sinkMutex());
        if (!sink()) {
            writeWhole(stdout, line);
            return;
        }
        replacement = sink();
    }
    // A replacement sink is called outside the lock (it keeps its own), so a test's sink
    // may wait for a line from another thread.
    replacement(line);
}

void logError(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    writeWhole(stderr, line);
}

void setPrintSink(PrintSink newSink) {
    std::lock_guard lock(sinkMutex());
    sink() = std::move(newSink);
}

void setFatalErrorPresenter(FatalErrorPresenter newPresenter) {
    std::lock_guard lock(sinkMutex());
    presenter() = std::move(newPresenter);
}

void fatalError(std::string_view message) {
    printLine(message);
    logError("fernhold: " + std::string(message));
    FatalErrorPresenter show;
    {
        std::lock_guard lock(sinkMutex());
        show = presenter();
    }
    std::fflush(stdout);
    std::fflush(stderr);
    if (show)
        show(message);
    // The application ends here on purpose: no destructors of threads that may be
    // blocked on the main queue.
    std::_Exit(1);
}

} // namespace foundation
