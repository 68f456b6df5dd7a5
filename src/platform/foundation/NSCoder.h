#pragma once
// What an interface description hands to the controllers it decodes, and the bundle a
// nib is loaded from. Our interface descriptions are code, so both carry only a name.
#include <string>
#include <utility>

class NSCoder {
  public:
    explicit NSCoder(std::string archiveName) : archiveName_(std::move(archiveName)) {}
    const std::string& archiveName() const { return archiveName_; }

  private:
    std::string archiveName_;
};

class NSBundle {
  public:
    static const NSBundle& mainBundle() {
        static const NSBundle bundle;
        return bundle;
    }
};
