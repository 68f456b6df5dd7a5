#include "host/serve/LiveEncoder.h"

#include "host/GStreamerSupport.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <condition_variable>

namespace host {
namespace {

// Frames waiting for the encoder beyond this many are dropped: a viewer sees the newest.
constexpr unsigned maximumQueuedFrames = 2;

} // namespace

std::shared_ptr<LiveEncoder> LiveEncoder::create(std::string& problem) {
    if (!gstreamerReady()) {
        problem = "GStreamer cannot start";
        return nullptr;
    }
    if (!elementInstalled("x264enc")) {
        problem = "no H.264 encoder is installed (x264enc is in gstreamer1.0-plugins-ugly)";
        return nullptr;
    }
    std::shared_ptr<LiveEncoder> encoder(new LiveEncoder);
    if (!encoder->build("x264enc", problem))
        return nullptr;
    return encoder;
}

// Built once, played from the first branch on. Low latency over size: no look-ahead, no
// B-frames (constrained baseline has none), one slice a frame, a keyframe a second so a
// gateway's late joiners wait at most that long.
bool LiveEncoder::build(const char* encoder, std::string& problem) {
    const std::string description =
        "appsrc name=frames format=time is-live=true do-timestamp=false min-latency=0 "
        "! videoconvert ! video/x-raw,format=I420 "
        "! x264enc name=encoder speed-preset=ultrafast tune=zerolatency key-int-max=30 bitrate=4000 "
        "! video/x-h264,profile=constrained-baseline,stream-format=byte-stream,alignment=au "
        "! h264parse config-interval=-1 ! tee name=split allow-not-linked=true";
    pipeline_ = buildFromDescription(description, false, "cannot build the encoder", problem);
    if (!pipeline_)
        return false;
    source_ = childByName(pipeline_, "frames");
    encoderElement_ = childByName(pipeline_, "encoder");
    split_ = childByName(pipeline_, "split");
    // Time is the monotonic clock the capture times are read from, from the moment the
    // pipeline is built: a frame's timestamp is its capture time.
    GstClock* clock = gst_system_clock_obtain();
    g_object_set(clock, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr);
    gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
    base_ = gst_clock_get_time(clock);
    gst_object_unref(clock);
    gst_element_set_start_time(pipeline_, GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(pipeline_, base_);
    encoder_ = encoder;
    return true;
}

LiveEncoder::~LiveEncoder() {
    if (pipeline_)
        gst_element_set_state(pipeline_, GST_STATE_NULL);
    for (GstElement* element : {split_, encoderElement_, source_, pipeline_})
        if (element)
            gst_object_unref(element);
}

bool LiveEncoder::attach(GstElement* branch) {
    std::lock_guard lock(mutex_);
    gst_object_ref(branch);
    if (!gst_bin_add(GST_BIN(pipeline_), branch)) {
        gst_object_unref(branch);
        return false;
    }
    GstPad* from = gst_element_request_pad_simple(split_, "src_%u");
    GstPad* to = gst_element_get_static_pad(branch, "sink");
    const bool linked = from && to && gst_pad_link(from, to) == GST_PAD_LINK_OK;
    if (to)
        gst_object_unref(to);
    if (!linked) {
        if (from) {
            gst_element_release_request_pad(split_, from);
            gst_object_unref(from);
        }
        gst_bin_remove(GST_BIN(pipeline_), branch);
        return false;
    }
    gst_object_unref(from);
    ++branches_;
    if (!started_) {
        started_ = gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
        if (!started_) {
            unlink(branch);
            return false;
        }
    } else
        gst_element_sync_state_with_parent(branch);
    requestKeyframe();
    return true;
}

void LiveEncoder::detach(GstElement* branch) {
    std::lock_guard lock(mutex_);
    unlink(branch);
}

void LiveEncoder::unlink(GstElement* branch) {
    GstPad* to = gst_element_get_static_pad(branch, "sink");
    GstPad* from = to ? gst_pad_get_peer(to) : nullptr;
    if (from) {
        // Unlinked between two buffers, so the tee never pushes into a pad coming apart;
        // the probe runs at once when the pad is idle, else after the buffer in flight.
        struct Unlink {
            std::mutex mutex;
            std::condition_variable done;
            bool unlinked = false;
            GstPad* to = nullptr;
        } unlink;
        unlink.to = to;
        gst_pad_add_probe(
            from, GST_PAD_PROBE_TYPE_IDLE,
            [](GstPad* pad, GstPadProbeInfo*, gpointer data) {
                auto* u = static_cast<Unlink*>(data);
                gst_pad_unlink(pad, u->to);
                std::lock_guard lock(u->mutex);
                u->unlinked = true;
                u->done.notify_one();
                return GST_PAD_PROBE_REMOVE;
            },
            &unlink, nullptr);
        std::unique_lock wait(unlink.mutex);
        unlink.done.wait(wait, [&] { return unlink.unlinked; });
        wait.unlock();
        gst_element_release_request_pad(split_, from);
        gst_object_unref(from);
        --branches_;
    }
    if (to)
        gst_object_unref(to);
    gst_element_set_state(branch, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_), branch);
    gst_object_unref(branch);
}

void LiveEncoder::requestKeyframe(uint64_t capturedFrom) {
    // The encoder compares a running time with each frame's, which is its timestamp here.
    const GstClockTime from = capturedFrom > base_ ? capturedFrom - base_ : GST_CLOCK_TIME_NONE;
    GstPad* pad = gst_element_get_static_pad(encoderElement_, "src");
    gst_pad_send_event(pad, gst_video_event_new_upstream_force_key_unit(from, TRUE, 0));
    gst_object_unref(pad);
}

FrameSink::Needs LiveEncoder::needs() const {
    return {branches_.load() > 0, {}, PixelLayout::yuyv};
}

// Frames come in the order they were captured; one shown twice is sent once.
void LiveEncoder::framePixels(const FramePixels& pixels) {
    const GstClockTime captured = monotonicNanoseconds(pixels.captureTime);
    if (branches_.load() == 0 || !pixels.yuyv || pixels.captureTime <= lastCapture_ || captured < base_)
        return;
    lastCapture_ = pixels.captureTime;
    GstAppSrc* source = GST_APP_SRC(source_);
    const int width = pixels.width & ~1;
    if (width != width_ || pixels.height != height_) {
        // The first frame, or a new picture size: the encoder starts afresh on it.
        // The camera's nominal rate, though each frame's time is its capture time: told a
        // variable rate (0/1), x264enc holds every frame until the next one comes, a frame
        // of delay for the viewers and the last frame of a stop never sent.
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "YUY2", "width", G_TYPE_INT, width,
                                "height", G_TYPE_INT, pixels.height, "framerate", GST_TYPE_FRACTION, 30, 1,
                                "colorimetry", G_TYPE_STRING, "bt601", nullptr);
        gst_app_src_set_caps(source, caps);
        gst_caps_unref(caps);
        width_ = width;
        height_ = pixels.height;
    }
    const size_t size = size_t(width_) * size_t(height_) * 2;
    if (pixels.yuyv->size() < size || gst_app_src_get_current_level_buffers(source) >= maximumQueuedFrames) {
        ++dropped_;
        return;
    }
    // The encoder reads the read-back bytes where they lie.
    GstBuffer* buffer = wrapFrameBytes(pixels.yuyv, size);
    GST_BUFFER_PTS(buffer) = captured - base_;
    ++(gst_app_src_push_buffer(source, buffer) == GST_FLOW_OK ? encoded_ : dropped_);
}

} // namespace host
