#pragma once
// A recording's picture taken from the live stream being served, so that the picture is
// encoded once for the viewers and the file alike: a branch of the live encoder whose
// H.264 access units go on into the recording's source, retimed onto the recording's own
// start. The file begins at the first keyframe (one is asked for at once), shown from the
// recording's start as the first frame is in a recording that encodes its own.
//
// Threads: attach() and detach() on the recorder's queue; the buffers pass on the live
// encoder's streaming thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

typedef struct _GstElement GstElement;
typedef struct _GstBuffer GstBuffer;

namespace host {

class LiveEncoder;

class SharedPicture {
  public:
    // Starts taking `encoder`'s stream into `source` (an appsrc whose time 0 is `base`, in
    // monotonic nanoseconds); frames captured earlier are left out. Null with `problem`.
    // `taken` hears each frame's capture time as it goes into the recording, on the live
    // encoder's streaming thread.
    using TakenHandler = std::function<void(std::chrono::steady_clock::time_point captured)>;
    static std::unique_ptr<SharedPicture> attach(const std::shared_ptr<LiveEncoder>& encoder,
                                                 GstElement* source, uint64_t base, TakenHandler taken,
                                                 std::string& problem);
    ~SharedPicture();
    SharedPicture(const SharedPicture&) = delete;
    SharedPicture& operator=(const SharedPicture&) = delete;

    // Stops taking frames; what was taken stays in the recording. Idempotent.
    void detach();
    // Detaches, then hands on the frame held back, shown until `stop` (monotonic
    // nanoseconds), as a recording that encodes its own repeats its last frame.
    void finish(uint64_t stop);
    // The frames gone into the recording.
    uint64_t frames() const { return frames_; }

  private:
    SharedPicture() = default;
    static int newSample(GstElement* sink, SharedPicture* self);

    std::shared_ptr<LiveEncoder> encoder_;
    GstElement* branch_ = nullptr;
    GstElement* source_ = nullptr;
    uint64_t offset_ = 0; // the live stream's time 0 on the recording's clock, plus its base
    uint64_t base_ = 0;
    bool attached_ = false;
    TakenHandler taken_;
    // The streaming thread's while attached, then finish()'s: each frame is held back until
    // the next one says how long it is shown.
    GstBuffer* held_ = nullptr;
    bool keyframeSeen_ = false;
    bool keyframeAskedAgain_ = false;
    std::atomic<uint64_t> frames_{0};
};

} // namespace host
