#include "host/recording/SharedPicture.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <utility>

#include "host/GStreamerSupport.h"
#include "host/serve/LiveEncoder.h"

namespace host {

std::unique_ptr<SharedPicture> SharedPicture::attach(const std::shared_ptr<LiveEncoder>& encoder,
                                                     GstElement* source, uint64_t base, TakenHandler taken,
                                                     std::string& problem) {
    // Encoded frames are small: a few seconds of them wait rather than be lost while the
    // muxer waits for the sound's first samples.
    GstElement* branch =
        buildFromDescription("queue max-size-buffers=0 max-size-bytes=0 max-size-time=5000000000 "
                             "! appsink name=tap sync=false emit-signals=true max-buffers=0",
                             true, "cannot take the served stream", problem);
    if (!branch)
        return nullptr;
    std::unique_ptr<SharedPicture> picture(new SharedPicture);
    picture->branch_ = branch;
    picture->source_ = GST_ELEMENT(gst_object_ref(source));
    picture->base_ = base;
    picture->offset_ = encoder->baseTime();
    picture->encoder_ = encoder; // before the first sample, which may ask it for a keyframe
    picture->taken_ = std::move(taken);
    GstElement* tap = childByName(branch, "tap");
    g_signal_connect(tap, "new-sample", G_CALLBACK(newSample), picture.get());
    gst_object_unref(tap);
    if (!encoder->attach(branch)) {
        problem = "cannot take the served stream";
        return nullptr;
    }
    picture->attached_ = true;
    // The file's first frame: the first one captured since the recording started. A
    // keyframe asked for "next" could go to a frame captured earlier and still in the
    // encoder, which the file leaves out, and the file would then wait for the periodic
    // one, seconds away when the camera is throttled.
    encoder->requestKeyframe(base);
    return picture;
}

SharedPicture::~SharedPicture() {
    detach();
    if (held_)
        gst_buffer_unref(held_);
    if (branch_)
        gst_object_unref(branch_);
    if (source_)
        gst_object_unref(source_);
}

void SharedPicture::detach() {
    if (!attached_)
        return;
    attached_ = false;
    encoder_->detach(branch_); // the branch is stopped when this returns: no sample follows
}

void SharedPicture::finish(uint64_t stop) {
    detach();
    GstBuffer* last = std::exchange(held_, nullptr);
    if (!last)
        return;
    const GstClockTime shownFrom = base_ + GST_BUFFER_PTS(last);
    if (stop <= shownFrom && frames_ > 0) { // captured after the stop: the frame before lasts until it
        gst_buffer_unref(last);
        return;
    }
    if (stop > shownFrom)
        GST_BUFFER_DURATION(last) = stop - shownFrom;
    if (gst_app_src_push_buffer(GST_APP_SRC(source_), last) == GST_FLOW_OK)
        ++frames_;
}

// The live encoder's streaming thread: each access unit, retimed, into the recording.
int SharedPicture::newSample(GstElement* sink, SharedPicture* self) {
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_OK;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    // The running time, not the timestamp: an encoder may shift its timestamps (x264enc
    // adds 1000 hours, so that no decoding time is negative) and its segment with them.
    const GstSegment* segment = gst_sample_get_segment(sample);
    const GstClockTime pts =
        buffer && segment ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer))
                          : GST_CLOCK_TIME_NONE;
    // Captured before the recording started, or not yet at a keyframe: left out.
    const bool early = !GST_CLOCK_TIME_IS_VALID(pts) || pts + self->offset_ < self->base_;
    const bool delta = buffer && GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    if (early || (!self->keyframeSeen_ && delta)) {
        gst_sample_unref(sample);
        // A frame of the recording's time that is no keyframe: the request was lost (the
        // encoder restarted on a new picture size, say), so it is made once more.
        if (!early && !self->keyframeAskedAgain_) {
            self->keyframeAskedAgain_ = true;
            self->encoder_->requestKeyframe();
        }
        return GST_FLOW_OK;
    }
    GstBuffer* retimed = gst_buffer_copy(buffer); // shares the bytes
    GST_BUFFER_PTS(retimed) = self->keyframeSeen_ ? pts + self->offset_ - self->base_ : 0;
    GST_BUFFER_DTS(retimed) = GST_BUFFER_PTS(retimed);
    if (!self->keyframeSeen_) {
        self->keyframeSeen_ = true;
        gst_app_src_set_caps(GST_APP_SRC(self->source_), gst_sample_get_caps(sample));
    }
    gst_sample_unref(sample);
    GstBuffer* previous = std::exchange(self->held_, retimed);
    if (previous) {
        GST_BUFFER_DURATION(previous) = GST_BUFFER_PTS(retimed) - GST_BUFFER_PTS(previous);
        if (gst_app_src_push_buffer(GST_APP_SRC(self->source_), previous) == GST_FLOW_OK)
            ++self->frames_;
    }
    if (self->taken_)
        self->taken_(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(pts + self->offset_)));
    return GST_FLOW_OK;
}

} // namespace host
