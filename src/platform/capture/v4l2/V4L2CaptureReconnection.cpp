#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "capture/v4l2/V4L2CaptureDevice.h"
#include "foundation/Print.h"

// A webcam that went away: closed at once, and opened again when its node is back.

void V4L2CaptureDevice::lose(int error, const std::string& what) {
    if (!reopen_) {
        fail(error, what);
        return;
    }
    std::shared_ptr<V4L2Io> gone;
    {
        std::lock_guard lock(ioMutex_);
        gone.swap(io_);
    }
    gone.reset(); // closes the node, so the kernel can let the camera go
    // A node that is still there after an I/O error is opened again only once it has
    // been made anew (the camera was reset or replugged), not straight away into the same
    // error.
    retryAtOnce_ = error == ENODEV || error == ENOENT;
    setAvailable(false, what + ": " + std::strerror(error));
}

std::shared_ptr<V4L2Io> V4L2CaptureDevice::reconnect() {
    // Watch the node's folder before the first try, so a node that comes back between the
    // try and the wait still wakes us.
    const std::filesystem::path node(path_);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 ||
        ::inotify_add_watch(watch, node.parent_path().c_str(), IN_CREATE | IN_ATTRIB | IN_MOVED_TO) < 0) {
        foundation::logError("capture: cannot watch for camera '" + path_ +
                             "' to come back: " + std::strerror(errno));
        if (watch >= 0)
            ::close(watch);
        waitUntilQuitting();
        return nullptr;
    }
    std::shared_ptr<V4L2Io> camera;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (quitting_)
                break;
        }
        if (auto opened = retryAtOnce_ ? reopen_() : nullptr) {
            V4L2ModeChoice mode;
            if (setChosenMode(*opened, mode, mode_.picture) == 0) {
                mode_ = std::move(mode);
                camera = std::move(opened);
                break;
            }
        }
        pollfd fds[2] = {{watch, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        // Only news of our node is worth a try (udev touches many nodes).
        retryAtOnce_ = false;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len && node.filename() == event->name)
                    retryAtOnce_ = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        uint64_t drained;
        while (::read(wakeFd_, &drained, sizeof drained) > 0) {
        }
    }
    ::close(watch);
    if (!camera)
        return nullptr;
    takeUp(*camera);
    {
        std::lock_guard lock(ioMutex_);
        io_ = camera;
    }
    {
        std::lock_guard lock(mutex_);
        intervalPending_ = true; // the camera forgot it
    }
    // The camera may have come back with other settings: observers see what it has now.
    refreshLater(controls_.observedControls());
    setAvailable(true, "is back");
    return camera;
}

void V4L2CaptureDevice::setAvailable(bool available, const std::string& why) {
    AvailabilityHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (available_ == available)
            return;
        available_ = available;
        handler = availabilityHandler_;
    }
    foundation::logError("capture: camera '" + path_ + "' " + why);
    if (handler)
        handler(available);
}
