#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

#include "capture/OwnChange.h"
#include "capture/imaging/CameraFrameDecoder.h"
#include "capture/imaging/FrameScaling.h"
#include "capture/v4l2/V4L2CaptureDevice.h"
#include "foundation/Print.h"

// The webcam's I/O thread: streaming on and off, frame durations, control events, stall
// detection, and each frame turned into the picture.

namespace {
// Frames closer together than this share of the minimum frame duration are dropped:
// a little slack, so a camera's jitter does not halve a matching rate.
constexpr double paceSlack = 0.9;
// A stream is stalled after this many frame durations without a frame (and at least the
// floor, so a camera that is slow to start is not called stalled).
constexpr double stallFrames = 8;
constexpr double stallFloorSeconds = 2;

std::string durationText(CMTime t) {
    return std::to_string(t.value) + "/" + std::to_string(t.timescale) + " s";
}

} // namespace

void V4L2CaptureDevice::applyFrameDurations(CMTime min, CMTime) {
    {
        std::lock_guard lock(mutex_);
        wantedMinDuration_ = min;
        intervalPending_ = true;
    }
    wakeIoThread();
}

void V4L2CaptureDevice::applyFrameInterval(V4L2Io& camera) {
    CMTime wanted;
    {
        std::lock_guard lock(mutex_);
        wanted = wantedMinDuration_;
        intervalPending_ = false;
    }
    const bool throttled = throttles(wanted);
    std::string control;
    if (cameraSetsRate_ && wanted.isValid()) {
        V4L2Interval interval{uint32_t(wanted.value), uint32_t(wanted.timescale)};
        if (int error = camera.setFrameInterval(interval))
            foundation::logError("capture: " + path_ + ": cannot set the frame duration to " +
                                 durationText(wanted) + ": " + std::strerror(error));
        else if (throttled)
            control = "rate set on the camera " +
                      durationText(CMTime{interval.numerator, int32_t(interval.denominator)});
    } else if (throttled) {
        control = "rate kept in software " + durationText(wanted);
    }
    std::lock_guard lock(mutex_);
    frameRateControl_ = control;
}

void V4L2CaptureDevice::ioLoop() {
    bool streamOn = false;
    Clock::time_point lastDelivery{}, lastFrame{};
    bool restartedForStall = false;
    for (;;) {
        bool wanted, failed, intervalPending;
        {
            std::lock_guard lock(mutex_);
            if (quitting_)
                break;
            wanted = streaming_;
            failed = failed_;
            intervalPending = intervalPending_;
        }
        auto camera = io();
        if (failed || (!camera && !reopen_)) {
            // A failed camera is left alone until the device goes.
            if (streamOn && camera)
                camera->stopStreaming();
            streamOn = false;
            waitUntilQuitting();
            break;
        }
        if (!camera) {
            streamOn = false;
            if (!(camera = reconnect()))
                break; // quitting
            continue;
        }
        if (intervalPending) {
            // Cameras take a new frame duration only while not streaming.
            if (streamOn && cameraSetsRate_) {
                camera->stopStreaming();
                streamOn = false;
            }
            applyFrameInterval(*camera);
        }
        if (wanted != streamOn) {
            int error = wanted ? camera->startStreaming() : camera->stopStreaming();
            if (wanted && error) {
                // Busy at the first start is another program's camera; later (after a
                // reopen) it may pass, as not enough USB bandwidth (ENOSPC) may.
                if ((error == EBUSY && !everStreamed_) || !reopen_)
                    fail(error, error == EBUSY ? "is busy: another program is using it"
                                               : "could not start streaming");
                else
                    lose(error, "could not start streaming");
                continue;
            }
            streamOn = wanted;
            lastFrame = Clock::now();
        }
        if (announceOnFrame_ && !streamOn) { // nothing to wait for: back as soon as it is open
            announceOnFrame_ = false;
            setAvailable(true, "is back");
        }
        // While streaming, wait no longer than it takes to call the stream stalled.
        int timeoutMs = -1;
        if (streamOn) {
            const double frameSeconds =
                std::max(mode_.intervals.empty() ? 1.0 / 30 : mode_.intervals.back().seconds(),
                         CMTimeGetSeconds(activeVideoMinFrameDuration()));
            const auto limit =
                std::chrono::duration<double>(std::max(stallFloorSeconds, stallFrames * frameSeconds));
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(limit - (Clock::now() - lastFrame));
            if (left.count() <= 0) {
                // First the stream is restarted, which cures many cameras; a stream that
                // stays silent after that is closed and the camera opened again.
                setAvailable(false, "stopped sending pictures");
                if (restartedForStall) {
                    restartedForStall = false;
                    lose(ETIMEDOUT, "stopped sending pictures");
                    streamOn = false;
                    continue;
                }
                restartedForStall = true;
                camera->stopStreaming();
                if (int error = camera->startStreaming()) {
                    lose(error, "could not restart streaming");
                    streamOn = false;
                    continue;
                }
                lastFrame = Clock::now();
                continue;
            }
            timeoutMs = int(left.count()) + 1;
        }
        V4L2Io::Activity activity;
        if (int error = camera->waitForActivity(streamOn, timeoutMs, activity)) {
            lose(error, "stopped responding");
            streamOn = false;
            continue;
        }
        if (activity.event)
            while (auto event = camera->dequeueEvent()) {
                deviceQueue_.async([this, e = *event] {
                    panel_->follow(e);
                    if (!(e.changes & V4L2_EVENT_CTRL_CH_VALUE))
                        return;
                    OwnChange change(*this);
                    publish(e.id, e.value);
                });
            }
        if (activity.frame && streamOn) {
            V4L2Frame frame;
            int error = camera->readFrame(frame);
            if (error == EAGAIN)
                continue;
            if (error) {
                lose(error, "failed while streaming");
                streamOn = false;
                continue;
            }
            lastFrame = Clock::now();
            everStreamed_ = true;
            restartedForStall = false;
            retryDelay_ = std::chrono::milliseconds{0};
            if (announceOnFrame_) {
                announceOnFrame_ = false;
                setAvailable(true, "is back");
            } else {
                setAvailable(true, "is sending pictures again");
            }
            if ((error = deliver(*camera, frame, lastDelivery))) {
                lose(error, "failed while streaming");
                streamOn = false;
            }
        }
    }
    if (auto camera = io(); camera && streamOn)
        camera->stopStreaming();
}

bool V4L2CaptureDevice::throttles(CMTime minDuration) const {
    const auto& ranges = activeFormat().videoSupportedFrameRateRanges;
    return minDuration.isValid() && !ranges.empty() &&
           CMTimeCompare(minDuration, ranges.front().minFrameDuration) > 0;
}

void V4L2CaptureDevice::waitUntilQuitting() {
    std::unique_lock lock(mutex_);
    quitSignal_.wait(lock, [this] { return quitting_; });
}

int V4L2CaptureDevice::deliver(V4L2Io& camera, const V4L2Frame& frame, Clock::time_point& lastDelivery) {
    // At the format's full rate the camera sets the pace; a longer minimum frame duration
    // (a throttle) the camera cannot take drops the frames that come too soon.
    const auto now = Clock::now();
    const CMTime minDuration = activeVideoMinFrameDuration();
    if (throttles(minDuration) && lastDelivery != Clock::time_point{} &&
        std::chrono::duration<double>(now - lastDelivery).count() < paceSlack * CMTimeGetSeconds(minDuration))
        return camera.releaseFrame();
    // The driver's time of the frame where it keeps the monotonic clock, the device clock's;
    // the time it was read otherwise.
    const CMTime presentationTime =
        frame.captured
            ? CMTime{std::chrono::duration_cast<std::chrono::nanoseconds>(frame.captured->time_since_epoch())
                         .count(),
                     1000000000}
            : deviceClockTime();

    bool damaged = false;
    auto pixels =
        CVPixelBuffer::make(mode_.picture.width, mode_.picture.height, [&](uint8_t* out, size_t bytesPerRow) {
            convert(frame, out, bytesPerRow, damaged);
        });
    // Decoded straight from the camera's buffer, which goes back as soon as the picture is
    // out of it: the frame's analysis never holds the camera's buffers.
    if (int error = camera.releaseFrame())
        return error;
    if (damaged)
        return 0;
    lastDelivery = now;

    std::shared_ptr<const FrameHandler> handler;
    uint64_t number;
    {
        std::lock_guard lock(mutex_);
        if (!streaming_ || quitting_)
            return 0;
        handler = handler_;
        number = ++framesDelivered_;
    }
    (*handler)(makeFrameObject<CMSampleBuffer>(CMSampleBuffer{std::move(pixels), presentationTime, number}));
    return 0;
}

void V4L2CaptureDevice::convert(const V4L2Frame& frame, uint8_t* out, size_t bytesPerRow, bool& damaged) {
    const V4L2Format& f = mode_.format;
    const int w = int(f.width), h = int(f.height);
    // Digital zoom narrows the decoder's crop: one pass, whatever the zoom.
    const double zoom = std::max(digitalZoom_.load(), 1.0);
    const int pictureWidth = mode_.picture.width, pictureHeight = mode_.picture.height;
    if (f.pixelFormat == V4L2_PIX_FMT_RGB24) {
        const size_t rowBytes = std::max<size_t>(f.bytesPerLine, size_t(w) * 3);
        if (frame.size < rowBytes * size_t(h)) {
            damaged = true;
            return;
        }
        fitInto(frame.bytes, w, h, rowBytes, 3,
                zoomedInto(coverCrop(w, h, pictureWidth, pictureHeight), zoom), out, pictureWidth,
                pictureHeight, bytesPerRow);
        return;
    }
    if (f.pixelFormat == V4L2_PIX_FMT_YUYV) {
        const size_t rowBytes = std::max<size_t>(f.bytesPerLine, size_t(w) * 2);
        if (frame.size < rowBytes * size_t(h)) {
            damaged = true;
            return;
        }
        decoder_->convertYuyvFrame(frame.bytes, w, h, rowBytes, out, pictureWidth, pictureHeight, bytesPerRow,
                                   zoom);
        return;
    }
    std::string reason;
    if (!decoder_->decodeJpegFrame(frame.bytes, frame.size, out, pictureWidth, pictureHeight, bytesPerRow,
                                   &reason, zoom)) {
        damaged = true;
        if (!damagedFrameReported_)
            foundation::logError("capture: camera '" + path_ + "' sent a damaged picture (" + reason +
                                 "); such pictures are skipped");
        damagedFrameReported_ = true;
        return;
    }
    framesWithWarnings_.store(decoder_->framesWithWarnings());
}
