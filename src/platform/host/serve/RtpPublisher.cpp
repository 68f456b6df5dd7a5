#include "host/serve/RtpPublisher.h"

#include <gst/gst.h>

#include "host/GStreamerSupport.h"
#include "host/serve/LiveEncoder.h"

namespace host {

std::unique_ptr<RtpPublisher> RtpPublisher::start(const std::shared_ptr<LiveEncoder>& encoder,
                                                  const std::string& host, int port, std::string& problem) {
    const std::string description =
        "queue leaky=downstream max-size-buffers=30 max-size-bytes=0 max-size-time=0 "
        "! rtph264pay config-interval=-1 aggregate-mode=zero-latency mtu=1200 pt=" +
        std::to_string(publishedPayloadType) + " ! udpsink name=out sync=false async=false";
    GstElement* branch = buildFromDescription(description, true, "cannot build the publisher", problem);
    if (!branch)
        return nullptr;
    GstElement* out = childByName(branch, "out");
    g_object_set(out, "host", host.c_str(), "port", port, nullptr);
    gst_object_unref(out);
    std::unique_ptr<RtpPublisher> publisher(new RtpPublisher);
    publisher->branch_ = branch;
    if (!encoder->attach(branch)) {
        problem = "cannot start sending to " + host + ":" + std::to_string(port);
        return nullptr;
    }
    publisher->encoder_ = encoder; // attached: the end detaches it
    return publisher;
}

RtpPublisher::~RtpPublisher() {
    if (!branch_)
        return;
    if (encoder_)
        encoder_->detach(branch_);
    gst_object_unref(branch_);
}

} // namespace host
