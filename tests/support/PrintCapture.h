#pragma once
// Collects the lines the system prints while it is alive.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Print.h"

class PrintCapture {
public:
    PrintCapture() {
        foundation::setPrintSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
            changed_.notify_all();
        });
    }
    ~PrintCapture() { foundation::setPrintSink(nullptr); }
    PrintCapture(const PrintCapture&) = delete;
    PrintCapture& operator=(const PrintCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t count(const std::string& line) const {
        std::lock_guard lock(mutex_);
        return size_t(std::count(lines_.begin(), lines_.end(), line));
    }
    size_t countStartingWith(const std::string& prefix) const {
        std::lock_guard lock(mutex_);
        return size_t(std::count_if(lines_.begin(), lines_.end(),
                                    [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};
