#pragma once
// The picture as a live H.264 stream for the network: a frame sink that, while anything
// watches, encodes every presented frame once (constrained baseline, which every browser
// decodes; a keyframe each second, and one more whenever a new watcher asks) and hands the
// stream to each watcher's branch: a browser viewer, a publisher to a gateway.
//
// One GStreamer pipeline: the frames' YUYV bytes from an appsrc, converted and encoded,
// split by a tee into the branches, each behind a queue that drops when its watcher falls
// behind. With no branch the sink asks for no pixels and costs nothing.
//
// Threads: attach(), detach() and requestKeyframe() from any thread but the GPU queue;
// the sink calls on the GPU queue, never waiting (a frame the encoder is not ready for is
// dropped and counted); the pipeline's own threads encode and send.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/FrameSink.h"

typedef struct _GstElement GstElement;

namespace host {

class LiveEncoder : public FrameSink, public std::enable_shared_from_this<LiveEncoder> {
  public:
    // A pipeline, not yet encoding, for frames of whatever size comes; null with `problem`
    // when GStreamer or an H.264 encoder is missing.
    static std::shared_ptr<LiveEncoder> create(std::string& problem);
    ~LiveEncoder() override;
    LiveEncoder(const LiveEncoder&) = delete;
    LiveEncoder& operator=(const LiveEncoder&) = delete;

    // Adds `branch` (a bin with one sink pad taking H.264 byte-stream in access units) to
    // the pipeline and starts it; the encoder runs while any branch is attached. Takes a
    // reference of its own.
    bool attach(GstElement* branch);
    // Unlinks `branch` without stopping the others, stops it and drops it.
    void detach(GstElement* branch);
    // A frame is encoded as a keyframe: the next one (a watcher joined or lost a frame), or
    // the first captured at or after `capturedFrom` (monotonic nanoseconds), which a frame
    // already on its way through the encoder cannot take.
    void requestKeyframe(uint64_t capturedFrom = 0);
    // The stream's time 0 on the monotonic clock, in nanoseconds: a frame's timestamp is its
    // capture time less this.
    uint64_t baseTime() const { return base_; }

    // The pipeline, for elements a branch builds inside it (its clock, its bus).
    GstElement* pipeline() const { return pipeline_; }
    uint64_t encoded() const { return encoded_; }
    uint64_t dropped() const { return dropped_; }
    const std::string& encoderName() const { return encoder_; }

    Needs needs() const override;
    void framePixels(const FramePixels& pixels) override;

  private:
    LiveEncoder() = default;
    bool build(const char* encoder, std::string& problem);
    void unlink(GstElement* branch); // under mutex_

    GstElement* pipeline_ = nullptr;
    GstElement* source_ = nullptr; // the appsrc
    GstElement* encoderElement_ = nullptr;
    GstElement* split_ = nullptr; // the tee
    std::string encoder_;
    uint64_t base_ = 0;
    int width_ = 0, height_ = 0; // GPU queue: of the frames the source's caps announce
    std::atomic<int> branches_{0};
    std::atomic<uint64_t> encoded_{0}, dropped_{0};
    std::mutex mutex_;                                    // attach and detach, one at a time
    std::chrono::steady_clock::time_point lastCapture_{}; // GPU queue
    bool started_ = false;                                // under mutex_: the pipeline is playing
};

} // namespace host
