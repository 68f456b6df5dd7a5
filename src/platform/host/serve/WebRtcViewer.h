#pragma once
// One browser watching: a branch of the live encoder that packs the H.264 stream into RTP
// for the browser's offered payload type and sends it through its own webrtcbin.
//
// Signalling is one exchange: the browser's complete offer (its candidates gathered) in,
// the complete answer out, its candidates gathered too, so no trickle is needed. The ICE
// agent gathers only on the address the page was served from.
//
// Threads: start() blocks its caller (a request's thread) until the answer is ready or a
// few seconds pass; the rest from any thread; webrtcbin's own threads report the state.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

typedef struct _GstElement GstElement;

namespace host {

class LiveEncoder;

class WebRtcViewer {
  public:
    // A viewer of `encoder`'s stream answering `offer` (SDP). `localAddress` is the one
    // address to gather candidates on ("" for every address). Null with `problem` when
    // the offer has no H.264 the encoder can send, or negotiation fails.
    static std::unique_ptr<WebRtcViewer> start(const std::shared_ptr<LiveEncoder>& encoder,
                                               const std::string& offer, const std::string& localAddress,
                                               std::function<void()> gone, std::string& answer,
                                               std::string& problem);
    ~WebRtcViewer();
    WebRtcViewer(const WebRtcViewer&) = delete;
    WebRtcViewer& operator=(const WebRtcViewer&) = delete;

    // The connection failed or closed: the viewer is gone and can be dropped (`gone` was
    // called then, on a thread of webrtcbin's).
    bool gone() const { return gone_; }
    uint64_t bytesSent() const { return bytes_; }

  private:
    WebRtcViewer() = default;
    static void connectionStateChanged(GstElement* rtc, void* pspec, WebRtcViewer* self);

    std::shared_ptr<LiveEncoder> encoder_;
    GstElement* branch_ = nullptr;
    GstElement* rtc_ = nullptr;
    bool attached_ = false;
    std::function<void()> goneHandler_;
    std::atomic<bool> gone_{false};
    std::atomic<uint64_t> bytes_{0};
};

// The payload type `offer` gives H.264 that a constrained-baseline stream suits
// (packetization mode 1, preferring profile 42e0), or -1 when it offers none.
int chooseH264PayloadType(const std::string& offer);
// `sdp` with only the candidates on `address` (every one when `address` is empty).
std::string keepCandidatesOn(const std::string& sdp, const std::string& address);

} // namespace host
