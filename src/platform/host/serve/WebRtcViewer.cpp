#include "host/serve/WebRtcViewer.h"

#define GST_USE_UNSTABLE_API // webrtcbin's library calls itself unstable, though long settled
#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>
#include <nice/agent.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <vector>

#include "host/GStreamerSupport.h"
#include "host/serve/LiveEncoder.h"

namespace host {
namespace {

constexpr auto negotiationLimit = std::chrono::seconds(5);

// A promise webrtcbin answers on its own thread, waited for at most a few seconds: one it
// never answers (it was torn down) must not hold a request for ever.
class Promise {
  public:
    Promise() : state_(std::make_shared<State>()) {
        promise_ = gst_promise_new_with_change_func(
            [](GstPromise*, gpointer data) {
                State& state = **static_cast<std::shared_ptr<State>*>(data);
                std::lock_guard lock(state.mutex);
                state.changed = true;
                state.done.notify_all();
            },
            new std::shared_ptr<State>(state_),
            [](gpointer data) { delete static_cast<std::shared_ptr<State>*>(data); });
    }
    ~Promise() { gst_promise_unref(promise_); }
    Promise(const Promise&) = delete;
    Promise& operator=(const Promise&) = delete;

    GstPromise* get() const { return promise_; }
    // Whether it was answered in time; `reply` then holds what came (null for a plain yes).
    bool answered(const GstStructure*& reply) {
        std::unique_lock lock(state_->mutex);
        if (!state_->done.wait_for(lock, negotiationLimit, [this] { return state_->changed; })) {
            lock.unlock();
            gst_promise_interrupt(promise_);
            return false;
        }
        if (gst_promise_wait(promise_) != GST_PROMISE_RESULT_REPLIED)
            return false;
        reply = gst_promise_get_reply(promise_);
        return true;
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool changed = false;
    };
    std::shared_ptr<State> state_;
    GstPromise* promise_;
};

std::string replyError(const GstStructure* reply, const char* what) {
    GError* error = nullptr;
    if (reply && gst_structure_get(reply, "error", G_TYPE_ERROR, &error, nullptr) && error) {
        std::string text = std::string(what) + ": " + error->message;
        g_clear_error(&error);
        return text;
    }
    return what;
}

bool restrictCandidates(GstElement* rtc, const std::string& address) {
    if (address.empty())
        return true;
    GObject* ice = nullptr;
    g_object_get(rtc, "ice-agent", &ice, nullptr);
    if (!ice)
        return false;
    NiceAgent* agent = nullptr;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(ice), "agent"))
        g_object_get(ice, "agent", &agent, nullptr);
    g_object_unref(ice);
    if (!agent)
        return false;
    NiceAddress local;
    nice_address_init(&local);
    const bool added =
        nice_address_set_from_string(&local, address.c_str()) && nice_agent_add_local_address(agent, &local);
    g_object_unref(agent);
    return added;
}

// The answer's SDP once every local candidate is in it.
std::string completedAnswer(GstElement* rtc) {
    struct Gathering {
        std::mutex mutex;
        std::condition_variable done;
    } gathering;
    auto complete = [rtc] {
        GstWebRTCICEGatheringState state;
        g_object_get(rtc, "ice-gathering-state", &state, nullptr);
        return state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE;
    };
    const gulong handler =
        g_signal_connect_swapped(rtc, "notify::ice-gathering-state", G_CALLBACK(+[](Gathering* g) {
                                     std::lock_guard lock(g->mutex);
                                     g->done.notify_all();
                                 }),
                                 &gathering);
    {
        std::unique_lock lock(gathering.mutex);
        gathering.done.wait_for(lock, negotiationLimit, complete);
    }
    g_signal_handler_disconnect(rtc, handler);
    GstWebRTCSessionDescription* description = nullptr;
    g_object_get(rtc, "local-description", &description, nullptr);
    if (!description)
        return "";
    gchar* text = gst_sdp_message_as_text(description->sdp);
    std::string sdp = text ? text : "";
    g_free(text);
    gst_webrtc_session_description_free(description);
    return sdp;
}

} // namespace

int chooseH264PayloadType(const std::string& offer) {
    std::istringstream lines(offer);
    std::string line;
    std::vector<int> h264;
    int best = -1, bestScore = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        int type = -1;
        char codec[32] = {};
        if (std::sscanf(line.c_str(), "a=rtpmap:%d %31[^/]", &type, codec) == 2 &&
            std::string(codec) == "H264")
            h264.push_back(type);
        else if (std::sscanf(line.c_str(), "a=fmtp:%d ", &type) == 1 &&
                 std::find(h264.begin(), h264.end(), type) != h264.end() &&
                 line.find("packetization-mode=1") != std::string::npos) {
            const size_t at = line.find("profile-level-id=");
            const std::string profile = at == std::string::npos ? "" : line.substr(at + 17, 4);
            const int score = profile == "42e0" ? 3 : profile.starts_with("42") ? 2 : 1;
            if (score > bestScore)
                best = type, bestScore = score;
        }
    }
    return best;
}

std::string keepCandidatesOn(const std::string& sdp, const std::string& address) {
    if (address.empty())
        return sdp;
    std::istringstream lines(sdp);
    std::string line, kept;
    while (std::getline(lines, line)) {
        // a=candidate:foundation component transport priority address port typ …
        if (line.starts_with("a=candidate:")) {
            std::istringstream fields(line);
            std::string field, at;
            for (int i = 0; i < 5 && fields >> field; ++i)
                at = field;
            if (at != address)
                continue;
        }
        kept += line + "\n";
    }
    return kept;
}

std::unique_ptr<WebRtcViewer> WebRtcViewer::start(const std::shared_ptr<LiveEncoder>& encoder,
                                                  const std::string& offer, const std::string& localAddress,
                                                  std::function<void()> gone, std::string& answer,
                                                  std::string& problem) {
    const int payload = chooseH264PayloadType(offer);
    if (payload < 0) {
        problem = "the offer has no H.264 in packetization mode 1";
        return nullptr;
    }
    GstSDPMessage* sdp = nullptr;
    if (gst_sdp_message_new_from_text(offer.c_str(), &sdp) != GST_SDP_OK) {
        problem = "the offer is not SDP";
        return nullptr;
    }
    const std::string description =
        "queue name=q leaky=downstream max-size-buffers=30 max-size-bytes=0 max-size-time=0 "
        "! rtph264pay name=pay config-interval=-1 aggregate-mode=zero-latency pt=" +
        std::to_string(payload) +
        " ! application/x-rtp,media=video,encoding-name=H264,clock-rate=90000,payload=" +
        std::to_string(payload) + " ! webrtcbin name=rtc bundle-policy=max-bundle latency=0";
    GstElement* branch = buildFromDescription(description, true, "cannot build a viewer", problem);
    if (!branch) {
        gst_sdp_message_free(sdp);
        return nullptr;
    }
    std::unique_ptr<WebRtcViewer> viewer(new WebRtcViewer);
    viewer->encoder_ = encoder;
    viewer->goneHandler_ = std::move(gone);
    viewer->branch_ = branch;
    viewer->rtc_ = childByName(branch, "rtc");
    GstElement* pay = childByName(branch, "pay");
    GstPad* sent = gst_element_get_static_pad(pay, "src");
    gst_pad_add_probe(
        sent, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        [](GstPad*, GstPadProbeInfo* info, gpointer self) {
            size_t bytes = 0;
            if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST)
                bytes = gst_buffer_list_calculate_size(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
            else
                bytes = gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
            static_cast<WebRtcViewer*>(self)->bytes_ += bytes;
            return GST_PAD_PROBE_OK;
        },
        viewer.get(), nullptr);
    gst_object_unref(sent);
    gst_object_unref(pay);
    g_signal_connect(viewer->rtc_, "notify::connection-state", G_CALLBACK(connectionStateChanged),
                     viewer.get());
    if (!restrictCandidates(viewer->rtc_, localAddress)) {
        problem = "cannot gather on " + localAddress;
        gst_sdp_message_free(sdp);
        return nullptr;
    }
    if (!(viewer->attached_ = encoder->attach(branch))) {
        problem = "cannot start a viewer's stream";
        gst_sdp_message_free(sdp);
        return nullptr;
    }

    GstWebRTCSessionDescription* remote = gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_OFFER, sdp);
    {
        Promise promise;
        g_signal_emit_by_name(viewer->rtc_, "set-remote-description", remote, promise.get());
        const GstStructure* reply = nullptr;
        const bool answered = promise.answered(reply);
        gst_webrtc_session_description_free(remote);
        if (!answered || (reply && gst_structure_has_field(reply, "error"))) {
            problem = replyError(reply, "the offer was refused");
            return nullptr;
        }
    }
    GstWebRTCSessionDescription* local = nullptr;
    {
        Promise promise;
        g_signal_emit_by_name(viewer->rtc_, "create-answer", nullptr, promise.get());
        const GstStructure* reply = nullptr;
        if (promise.answered(reply) && reply)
            gst_structure_get(reply, "answer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &local, nullptr);
        if (!local) {
            problem = replyError(reply, "no answer to the offer");
            return nullptr;
        }
    }
    {
        Promise promise;
        g_signal_emit_by_name(viewer->rtc_, "set-local-description", local, promise.get());
        const GstStructure* reply = nullptr;
        promise.answered(reply);
        gst_webrtc_session_description_free(local);
    }

    answer = keepCandidatesOn(completedAnswer(viewer->rtc_), localAddress);
    if (answer.empty()) {
        problem = "no answer to the offer";
        return nullptr;
    }
    return viewer;
}

WebRtcViewer::~WebRtcViewer() {
    if (rtc_)
        g_signal_handlers_disconnect_by_data(rtc_, this);
    if (attached_)
        encoder_->detach(branch_);
    else if (branch_)
        gst_element_set_state(branch_, GST_STATE_NULL);
    if (rtc_)
        gst_object_unref(rtc_);
    if (branch_)
        gst_object_unref(branch_);
}

void WebRtcViewer::connectionStateChanged(GstElement* rtc, void*, WebRtcViewer* self) {
    GstWebRTCPeerConnectionState state;
    g_object_get(rtc, "connection-state", &state, nullptr);
    if (state == GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED)
        self->encoder_->requestKeyframe(); // the first picture the browser can decode
    else if (state == GST_WEBRTC_PEER_CONNECTION_STATE_FAILED ||
             state == GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED)
        if (!self->gone_.exchange(true) && self->goneHandler_)
            self->goneHandler_();
}

} // namespace host
