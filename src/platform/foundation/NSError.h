#pragma once
// An error value with a printable description, as the platform hands them out.
#include <string>
#include <utility>

class NSError {
  public:
    NSError() = default;
    NSError(std::string domain, int code, std::string description)
        : domain_(std::move(domain)), code_(code), description_(std::move(description)) {}

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }
    const std::string& localizedDescription() const { return description_; }

  private:
    std::string domain_;
    int code_ = 0;
    std::string description_;
};
