#pragma once
// The picture watched from a browser: a small HTTP server that serves one page, answers
// each viewer's WebRTC offer (the WHEP exchange: POST application/sdp, 201 with the answer
// and the viewer's Location, DELETE to leave), streams the readouts as server-sent events
// and takes the page's control commands.
//
// Nothing is served without the token: every request lacking it gets 403. Controls need
// a second token of their own, so a link to watch cannot change the camera. Viewers are
// capped; one more is told "busy" (503). A viewer whose event stream breaks (the page
// closed, the browser gone) or whose connection fails is dropped at once, and one that
// never opens its event stream within a few seconds too.
//
// Threads: start() and the destructor on the main thread; publishState() and the queries
// from any thread; requests on the server's own threads, which never wait on the camera,
// the window or the GPU queue (a control command is handed to `control` and answered at once).
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "dispatch/DispatchQueue.h"

namespace httplib {
class Server;
class Request;
class Response;
} // namespace httplib

namespace host {

class LiveEncoder;
class WebRtcViewer;

class ViewServer {
  public:
    struct Settings {
        std::string host = "127.0.0.1";
        int port = 8090; // 0: any free port
        std::string viewToken;
        std::string controlToken; // empty: the page has no controls
        int maximumViewers = 4;
    };
    // A command from the page, already one of the allowed ones ("swipe left", "zebra 80",
    // "peaking on", …); called on a request's thread and must not wait.
    using ControlHandler = std::function<void(const std::string& command)>;

    // Listening once it returns; null with `problem` when the address cannot be bound.
    static std::unique_ptr<ViewServer> start(Settings settings, std::shared_ptr<LiveEncoder> encoder,
                                             ControlHandler control, std::string& problem);
    ~ViewServer();
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    // The readouts the page shows; viewers are told only when they change.
    void publishState(const std::string& filter, const std::string& luminosity);
    // The page's address with the view token, and with the control token (empty without).
    std::string url() const;
    std::string controlUrl() const;
    int viewers() const;
    uint64_t bytesSent() const;

  private:
    ViewServer(Settings settings, std::shared_ptr<LiveEncoder> encoder, ControlHandler control);
    void route();
    // The token a request carries (?token= or Authorization: Bearer), checked; false after
    // answering 403.
    bool allowed(const httplib::Request& request, httplib::Response& response, bool control) const;
    void offer(const httplib::Request& request, httplib::Response& response);
    void events(const httplib::Request& request, httplib::Response& response);
    void leave(const std::string& id);
    // Drops `id` once its connection has gone; on the viewers' queue.
    void dropIfGone(const std::string& id);
    struct Viewer;
    // Takes `id` out of the viewers when `leaves` holds for it; its connection, for the
    // caller to end off the lock (null when it stays or is unknown).
    std::shared_ptr<WebRtcViewer> takeViewer(const std::string& id,
                                             const std::function<bool(const Viewer&)>& leaves);
    std::string stateEvent() const; // under mutex_

    const Settings settings_;
    const std::shared_ptr<LiveEncoder> encoder_;
    const ControlHandler control_;
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0; // the one bound
    std::thread listener_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    uint64_t version_ = 0; // of the state below
    std::string filter_, luminosity_;
    struct Viewer {
        std::shared_ptr<WebRtcViewer> connection;
        bool watching = false; // its event stream is open
    };
    std::map<std::string, Viewer> viewers_;
    int joining_ = 0;          // offers being answered, counted against the cap
    uint64_t bytesOfGone_ = 0; // sent to viewers since dropped
    // Ends viewers, off the request and GStreamer threads; last, so that what is queued
    // there runs while everything above still stands.
    DispatchQueue viewerQueue_{"viewers"};
};

} // namespace host
