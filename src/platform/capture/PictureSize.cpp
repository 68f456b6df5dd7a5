#include "capture/PictureSize.h"

#include <charconv>

namespace {
bool readSide(const char* begin, const char* end, int& side) {
    if (begin == end || *begin < '0' || *begin > '9')
        return false;
    auto [next, error] = std::from_chars(begin, end, side);
    return error == std::errc{} && next == end;
}
} // namespace

std::optional<PictureSize> parseWidthByHeight(const std::string& text) {
    const size_t cross = text.find('x');
    if (cross == std::string::npos)
        return std::nullopt;
    PictureSize size;
    const char* start = text.data();
    if (!readSide(start, start + cross, size.width) ||
        !readSide(start + cross + 1, start + text.size(), size.height))
        return std::nullopt;
    return size;
}

std::optional<PictureSize> parsePictureSize(const std::string& text) {
    const auto read = parseWidthByHeight(text);
    if (!read)
        return std::nullopt;
    const PictureSize size = *read;
    if (size.width % 2 != 0 || size.height % 2 != 0)
        return std::nullopt;
    if (size.width < smallestPictureSize.width || size.height < smallestPictureSize.height ||
        size.width > largestPictureSize.width || size.height > largestPictureSize.height)
        return std::nullopt;
    return size;
}

std::string describePictureSize(PictureSize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}
