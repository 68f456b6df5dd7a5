#include "observe/NSNotificationCenter.h"

#include <algorithm>

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
    static NSNotificationCenter center;
    return center;
}

void NSNotificationCenter::addObserver(const void* observer, std::string name,
                                       std::function<void(const NSNotification&)> handler) {
    std::lock_guard lock(mutex_);
    registrations_.push_back({observer, std::move(name), std::move(handler)});
}

void NSNotificationCenter::removeObserver(const void* observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(registrations_, [&](const Registration& r) { return r.observer == observer; });
}

void NSNotificationCenter::post(const NSNotification& notification) {
    std::vector<std::function<void(const NSNotification&)>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (auto& r : registrations_)
            if (r.name == notification.name)
                handlers.push_back(r.handler);
    }
    for (auto& h : handlers)
        h(notification);
}

size_t NSNotificationCenter::observerCount(const void* observer) const {
    std::lock_guard lock(mutex_);
    return size_t(std::count_if(registrations_.begin(), registrations_.end(),
                                [&](const Registration& r) { return r.observer == observer; }));
}
