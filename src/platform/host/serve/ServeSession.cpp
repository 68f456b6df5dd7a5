#include "host/serve/ServeSession.h"

#include "foundation/Print.h"
#include "host/CommandLine.h"
#include "host/serve/AccessTokens.h"

namespace host {

std::shared_ptr<ServeSession> ServeSession::open(const Options& options, std::string& problem) {
    if (!options.serve && !options.publish)
        return nullptr;
    auto session = std::make_shared<ServeSession>();
    session->encoder_ = LiveEncoder::create(problem);
    if (!session->encoder_)
        return nullptr;
    if (const auto& target = options.publish) {
        session->publisher_ = RtpPublisher::start(session->encoder_, target->host, target->port, problem);
        if (!session->publisher_)
            return nullptr;
    }
    if (const auto& serve = options.serve) {
        ViewServer::Settings settings;
        settings.host = serve->host;
        settings.port = serve->port;
        settings.maximumViewers = serve->maximumViewers;
        if (serve->tokenFile) {
            auto token = readTokenFile(*serve->tokenFile, problem);
            if (!token)
                return nullptr;
            settings.viewToken = *token;
        } else
            settings.viewToken = randomToken();
        if (serve->control)
            settings.controlToken = randomToken();
        std::weak_ptr<ServeSession> weak = session;
        session->server_ = ViewServer::start(
            settings, session->encoder_,
            [weak](const std::string& text) {
                if (auto self = weak.lock())
                    self->command(text);
            },
            problem);
        if (!session->server_)
            return nullptr;
        foundation::logError("fernhold: watch at " + session->server_->url());
        if (serve->control)
            foundation::logError("fernhold: watch and control at " + session->server_->controlUrl());
    }
    return session;
}

// The server goes first: its viewers are branches of the encoder.
ServeSession::~ServeSession() {
    server_.reset();
    publisher_.reset();
}

void ServeSession::setCommandHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void ServeSession::command(const std::string& text) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (handler)
        handler(text);
}

} // namespace host
