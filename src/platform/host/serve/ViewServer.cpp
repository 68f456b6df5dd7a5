#include "host/serve/ViewServer.h"

#include <httplib.h>

#include "foundation/Print.h"
#include "host/script/UiInspector.h"
#include "host/serve/AccessTokens.h"
#include "host/serve/LiveEncoder.h"
#include "host/serve/ViewPage.h"
#include "host/serve/WebRtcViewer.h"

namespace host {
namespace {

// A viewer must open its event stream this soon after its answer, or it is dropped.
constexpr auto joinLimit = std::chrono::seconds(10);
// An event stream says something at least this often, so a reader that went away is
// noticed by the failed write.
constexpr auto keepAlive = std::chrono::seconds(1);
// Requests served at once: each open event stream holds one.
constexpr size_t requestThreads = 24;

// The page's buttons: swiping between filters and the assists, nothing else.
bool allowedCommand(const std::string& command) {
    static const char* const fixed[] = {"swipe left",  "swipe right",  "zebra off",     "peaking on",
                                        "peaking off", "histogram on", "histogram off", "histogram rgb",
                                        "waveform on", "waveform off"};
    for (const char* allowed : fixed)
        if (command == allowed)
            return true;
    int level = 0;
    char rest = 0;
    return std::sscanf(command.c_str(), "zebra %d%c", &level, &rest) == 1 && level >= 50 && level <= 100 &&
           command == "zebra " + std::to_string(level);
}

std::string bearer(const httplib::Request& request) {
    const std::string header = request.get_header_value("Authorization");
    return header.starts_with("Bearer ") ? header.substr(7) : "";
}

std::string hostInUrl(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

} // namespace

std::unique_ptr<ViewServer> ViewServer::start(Settings settings, std::shared_ptr<LiveEncoder> encoder,
                                              ControlHandler control, std::string& problem) {
    std::unique_ptr<ViewServer> server(
        new ViewServer(std::move(settings), std::move(encoder), std::move(control)));
    server->route();
    const auto& s = server->settings_;
    // Port 0: any free port, the one taken then named in the address.
    if (s.port == 0)
        server->port_ = server->server_->bind_to_any_port(s.host);
    else if (server->server_->bind_to_port(s.host, s.port))
        server->port_ = s.port;
    if (server->port_ <= 0) {
        problem = "cannot serve on " + hostInUrl(s.host) + ":" + std::to_string(s.port) + ": " +
                  std::strerror(errno ? errno : EADDRINUSE);
        return nullptr;
    }
    server->listener_ = std::thread([raw = server.get()] { raw->server_->listen_after_bind(); });
    return server;
}

ViewServer::ViewServer(Settings settings, std::shared_ptr<LiveEncoder> encoder, ControlHandler control)
    : settings_(std::move(settings)), encoder_(std::move(encoder)), control_(std::move(control)),
      server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(requestThreads); };
    // SO_REUSEADDR alone: the library's default adds SO_REUSEPORT, with which a second
    // program on the same port would share it silently instead of being told it is taken.
    server_->set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

ViewServer::~ViewServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_->stop();
    if (listener_.joinable())
        listener_.join();
    std::map<std::string, Viewer> viewers;
    {
        std::lock_guard lock(mutex_);
        viewers.swap(viewers_);
    }
    viewerQueue_.sync([] {}); // nothing of theirs still running there
}

void ViewServer::route() {
    server_->Get("/", [this](const httplib::Request& request, httplib::Response& response) {
        if (!allowed(request, response, false))
            return;
        const bool controls = !settings_.controlToken.empty() &&
                              tokenMatches(request.get_param_value("token"), settings_.controlToken);
        response.set_header("Cache-Control", "no-store");
        response.set_header("Referrer-Policy", "no-referrer"); // the token stays out of other sites' logs
        response.set_content(viewPage(controls), "text/html; charset=utf-8");
    });
    server_->Post("/whep", [this](const httplib::Request& request, httplib::Response& response) {
        if (allowed(request, response, false))
            offer(request, response);
    });
    server_->Delete(R"(/whep/([0-9a-f]+))",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        if (!allowed(request, response, false))
                            return;
                        leave(request.matches[1]);
                        response.status = 204;
                    });
    server_->Get("/events", [this](const httplib::Request& request, httplib::Response& response) {
        if (allowed(request, response, false))
            events(request, response);
    });
    server_->Post("/control", [this](const httplib::Request& request, httplib::Response& response) {
        if (!allowed(request, response, true))
            return;
        if (!allowedCommand(request.body)) {
            response.status = 400;
            response.set_content("unknown command\n", "text/plain");
            return;
        }
        control_(request.body);
        response.status = 204;
    });
}

bool ViewServer::allowed(const httplib::Request& request, httplib::Response& response, bool control) const {
    std::string token = request.get_param_value("token");
    if (token.empty())
        token = bearer(request);
    const bool controls = !settings_.controlToken.empty() && tokenMatches(token, settings_.controlToken);
    if (controls || (!control && tokenMatches(token, settings_.viewToken)))
        return true;
    response.status = 403;
    response.set_content("forbidden\n", "text/plain");
    return false;
}

void ViewServer::offer(const httplib::Request& request, httplib::Response& response) {
    {
        std::lock_guard lock(mutex_);
        if (int(viewers_.size()) + joining_ >= settings_.maximumViewers) {
            response.status = 503;
            response.set_content("busy\n", "text/plain");
            return;
        }
        ++joining_;
    }
    const std::string id = randomToken().substr(0, 16);
    std::string answer, problem;
    // The answer's candidates: the address this request came in on, so a server bound to
    // every address still offers one a viewer reached.
    const std::string local = request.local_addr.empty() ? settings_.host : request.local_addr;
    std::shared_ptr<WebRtcViewer> viewer = WebRtcViewer::start(
        encoder_, request.body, local == "0.0.0.0" || local == "::" ? "" : local,
        [this, id] { viewerQueue_.async([this, id] { dropIfGone(id); }); }, answer, problem);
    std::lock_guard lock(mutex_);
    --joining_;
    if (!viewer || stopping_) {
        response.status = viewer ? 503 : 400;
        response.set_content((viewer ? "stopping" : problem) + "\n", "text/plain");
        return;
    }
    viewers_[id] = Viewer{viewer, false};
    viewerQueue_.asyncAfter(
        joinLimit, [this, id] { takeViewer(id, [](const Viewer& viewer) { return !viewer.watching; }); });
    response.status = 201;
    response.set_header("Location", "/whep/" + id);
    response.set_content(answer, "application/sdp");
    changed_.notify_all();
}

void ViewServer::events(const httplib::Request& request, httplib::Response& response) {
    const std::string id = request.get_param_value("viewer");
    {
        std::lock_guard lock(mutex_);
        if (auto found = viewers_.find(id); found != viewers_.end())
            found->second.watching = true;
    }
    response.set_header("Cache-Control", "no-store");
    auto sent = std::make_shared<uint64_t>(~uint64_t(0));
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, sent](size_t, httplib::DataSink& sink) {
            std::string event;
            {
                std::unique_lock lock(mutex_);
                changed_.wait_for(lock, keepAlive, [&] { return stopping_ || version_ != *sent; });
                if (stopping_)
                    return false;
                if (version_ != *sent) {
                    *sent = version_;
                    event = "data: " + stateEvent() + "\n\n";
                } else
                    event = ": still here\n\n";
            }
            return sink.write(event.data(), event.size());
        },
        [this, id](bool) { leave(id); }); // the page closed, or the browser went away
}

std::shared_ptr<WebRtcViewer> ViewServer::takeViewer(const std::string& id,
                                                     const std::function<bool(const Viewer&)>& leaves) {
    std::shared_ptr<WebRtcViewer> taken;
    {
        std::lock_guard lock(mutex_);
        auto found = viewers_.find(id);
        if (found == viewers_.end() || !leaves(found->second))
            return nullptr;
        taken = found->second.connection;
        bytesOfGone_ += taken->bytesSent();
        viewers_.erase(found);
        ++version_;
    }
    changed_.notify_all();
    return taken;
}

void ViewServer::leave(const std::string& id) {
    // Ended on the viewers' queue: taking a branch out of the encoder waits for its buffer in
    // flight, which a request's thread need not do.
    if (auto leaving = takeViewer(id, [](const Viewer&) { return true; }))
        viewerQueue_.async([leaving = std::move(leaving)]() mutable { leaving.reset(); });
}

void ViewServer::dropIfGone(const std::string& id) {
    takeViewer(id, [](const Viewer& viewer) { return viewer.connection->gone(); });
}

void ViewServer::publishState(const std::string& filter, const std::string& luminosity) {
    {
        std::lock_guard lock(mutex_);
        if (filter == filter_ && luminosity == luminosity_)
            return;
        filter_ = filter;
        luminosity_ = luminosity;
        ++version_;
    }
    changed_.notify_all();
}

std::string ViewServer::stateEvent() const {
    return "{\"filter\":" + jsonString(filter_) + ",\"luminosity\":" + jsonString(luminosity_) +
           ",\"viewers\":" + std::to_string(viewers_.size()) + "}";
}

std::string ViewServer::url() const {
    return "http://" + hostInUrl(settings_.host) + ":" + std::to_string(port_) +
           "/?token=" + settings_.viewToken;
}

std::string ViewServer::controlUrl() const {
    if (settings_.controlToken.empty())
        return "";
    return "http://" + hostInUrl(settings_.host) + ":" + std::to_string(port_) +
           "/?token=" + settings_.controlToken;
}

int ViewServer::viewers() const {
    std::lock_guard lock(mutex_);
    return int(viewers_.size());
}

uint64_t ViewServer::bytesSent() const {
    std::lock_guard lock(mutex_);
    uint64_t bytes = bytesOfGone_;
    for (const auto& [id, viewer] : viewers_)
        bytes += viewer.connection->bytesSent();
    return bytes;
}

} // namespace host
