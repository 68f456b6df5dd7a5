#pragma once
// The default notification centre: observers register for a name with a handler and are
// removed all at once by removeObserver(observer). Posting delivers on the posting thread.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct NSNotification {
    std::string name;
    const void* object = nullptr;
};

class NSNotificationCenter {
  public:
    static NSNotificationCenter& defaultCenter();

    void addObserver(const void* observer, std::string name,
                     std::function<void(const NSNotification&)> handler);
    void removeObserver(const void* observer);
    void post(const NSNotification& notification);
    size_t observerCount(const void* observer) const;

  private:
    struct Registration {
        const void* observer;
        std::string name;
        std::function<void(const NSNotification&)> handler;
    };
    mutable std::mutex mutex_;
    std::vector<Registration> registrations_;
};
