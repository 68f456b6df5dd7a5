#pragma once
// One entry of the filter carousel: the name the screen shows and the kind of processing.
#include <functional>
#include <string>

struct CarouselItem {
    enum class ItemType : int {
        none = 0,
        cannyEdge = 1,
        sobelEdge = 2,
        colorInvert = 3,
        falseColor = 4,
        luminance = 5
    };

    CarouselItem(std::string name_, ItemType ftype_) : name(std::move(name_)), ftype(ftype_) {}
    const std::string name;
    const ItemType ftype;
};

template <> struct std::hash<CarouselItem::ItemType> {
    size_t operator()(CarouselItem::ItemType t) const noexcept { return std::hash<int>()(int(t)); }
};
