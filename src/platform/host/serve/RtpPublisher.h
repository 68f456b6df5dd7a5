#pragma once
// The picture published to a gateway: a branch of the live encoder that sends its H.264
// as RTP over UDP to HOST:PORT, for a mountpoint of Janus's streaming plugin (or any RTP
// receiver). SPS and PPS go with every keyframe and the encoder makes one each second, as
// a gateway does not pass its viewers' keyframe requests back to a plain RTP source.
//
// Threads: any thread but the GPU queue; the encoder's threads send.
#include <memory>
#include <string>

typedef struct _GstElement GstElement;

namespace host {

class LiveEncoder;

// The payload type the stream goes out with (what a mountpoint's videopt names).
inline constexpr int publishedPayloadType = 96;

class RtpPublisher {
  public:
    // Null with `problem` when the branch cannot be built or started.
    static std::unique_ptr<RtpPublisher> start(const std::shared_ptr<LiveEncoder>& encoder,
                                               const std::string& host, int port, std::string& problem);
    ~RtpPublisher();
    RtpPublisher(const RtpPublisher&) = delete;
    RtpPublisher& operator=(const RtpPublisher&) = delete;

  private:
    RtpPublisher() = default;
    std::shared_ptr<LiveEncoder> encoder_;
    GstElement* branch_ = nullptr;
};

} // namespace host
