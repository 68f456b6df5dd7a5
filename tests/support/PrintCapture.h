#pragma once
// Collects the lines the system prints while it is alive.
#include <algorithm>
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
        });
    }
    ~PrintCapture() { foundation::setPrintSink(nullptr); }
    PrintCapture(const PrintCapture&) = delete;
    PrintCapture& operator=(const PrintCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t count(const std::string& line) const { return size_t(std::ranges::count(lines(), line)); }
    size_t countStartingWith(const std::string& prefix) const {
        return size_t(
            std::ranges::count_if(lines(), [&](const std::string& l) { return l.starts_with(prefix); }));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};
