#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "capture/v4l2/V4L2CaptureDevice.h"
#include "foundation/Print.h"

// A webcam that went away: closed at once, and opened again when a node with its identity
// is back, or after a back-off when the failure may pass while it stays plugged in.

namespace {
// Failures that may pass while the camera stays plugged in are retried on this back-off.
constexpr std::chrono::milliseconds firstRetry{500}, longestRetry{5000};

std::chrono::milliseconds grown(std::chrono::milliseconds delay) {
    return delay.count() ? std::min(delay * 2, longestRetry) : firstRetry;
}

bool mayPass(int error) {
    return error == EIO || error == EBUSY || error == ENOSPC || error == ETIMEDOUT || error == EAGAIN;
}
} // namespace

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
    // An unplugged camera is looked for when a node appears; one that is still there
    // after a failure that may pass is tried again after a while, not straight away into
    // the same error.
    retryAtOnce_ = error == ENODEV || error == ENOENT;
    if (mayPass(error))
        retryDelay_ = grown(retryDelay_);
    setAvailable(false, what + ": " + std::strerror(error));
}

std::shared_ptr<V4L2Io> V4L2CaptureDevice::reconnect() {
    // Watch /dev before the first try, so a node that comes back between the try and the
    // wait still wakes us. /dev, not the folder of a udev link: udev removes by-id's folder
    // with the camera's last link, and the camera is found by its identity anyway.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, "/dev", IN_CREATE | IN_ATTRIB | IN_MOVED_TO) < 0) {
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
        int error = 0;
        if (retryAtOnce_) {
            std::string foundAt;
            if (auto opened = reopen_(identity_, &error, &foundAt)) {
                V4L2ModeChoice mode;
                if ((error = setChosenMode(*opened, mode, mode_.picture)) == 0) {
                    mode_ = std::move(mode);
                    camera = std::move(opened);
                    std::lock_guard lock(mutex_);
                    lineName_ = cameraNameForLines(path_, foundAt);
                    break;
                }
            }
            // Still there but not ready yet: again after a while. Not there: when a node appears.
            retryDelay_ =
                mayPass(error) || error == EACCES ? grown(retryDelay_) : std::chrono::milliseconds{0};
        }
        pollfd fds[2] = {{watch, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int woken = ::poll(fds, 2, retryDelay_.count() ? int(retryDelay_.count()) : -1);
        if (woken < 0 && errno != EINTR)
            break;
        // A new video node may be ours (udev touches many other nodes); a back-off that ran
        // out is a try too.
        retryAtOnce_ = woken == 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len && std::string_view(event->name).starts_with("video"))
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
    restoreSettings(*camera);
    {
        std::lock_guard lock(ioMutex_);
        io_ = camera;
    }
    panel_->attach(camera);
    {
        std::lock_guard lock(mutex_);
        intervalPending_ = true; // the camera forgot it
    }
    // Observers see what the camera has now, which is what it was told unless it refused.
    refreshLater(controls_.observedControls());
    announceOnFrame_ = true; // said once pictures come: a failure that recurs stays one line
    return camera;
}

void V4L2CaptureDevice::restoreSettings(V4L2Io& camera) {
    const auto& c = controls_;
    // Modes before values: a camera refuses a value while its automatic mode is on.
    auto put = [&](const std::optional<V4L2ControlInfo>& control, int32_t value) {
        if (control)
            camera.setControl(control->id, value);
    };
    const bool autoFocus = focusMode() == AVCaptureFocusMode::continuousAutoFocus;
    put(c.focusAuto, autoFocus ? 1 : 0);
    if (!autoFocus)
        put(c.focusAbsolute, c.focusValue(lensPosition()));
    const AVCaptureExposureMode exposure = exposureMode();
    if (auto value = c.exposureAutoValue(exposure))
        put(c.exposureAuto, *value);
    if (exposure == AVCaptureExposureMode::custom || exposure == AVCaptureExposureMode::locked) {
        put(c.exposureAbsolute, c.exposureValue(exposureDuration()));
        put(c.gain, c.gainValue(ISO()));
    }
    put(c.exposureBias, c.biasValue(exposureTargetBias()));
    if (c.hasOpticalZoom())
        put(c.zoomAbsolute, c.zoomValue(videoZoomFactor()));
    panel_->restore(camera);
}

void V4L2CaptureDevice::setAvailable(bool available, std::string_view why) {
    AvailabilityHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (available_ == available)
            return;
        available_ = available;
        handler = availabilityHandler_;
    }
    foundation::logError("capture: camera '" + lineName() + "' " + std::string(why));
    if (handler)
        handler(available);
}
