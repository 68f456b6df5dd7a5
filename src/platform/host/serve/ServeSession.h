#pragma once
// What a run that serves or publishes its picture holds: the one live encoder, the view
// server and the publisher that use it. Opened before the run begins, so that an address
// that cannot be bound stops the run at once; the host attaches the encoder to its render
// view and takes the page's commands once it runs.
//
// Threads: made on the main thread; the command relay from any thread.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "host/serve/LiveEncoder.h"
#include "host/serve/RtpPublisher.h"
#include "host/serve/ViewServer.h"

namespace host {

struct Options;

class ServeSession {
  public:
    // Null with `problem` when nothing is asked (problem empty) or it cannot start.
    static std::shared_ptr<ServeSession> open(const Options& options, std::string& problem);
    ~ServeSession();

    const std::shared_ptr<LiveEncoder>& encoder() const { return encoder_; }
    ViewServer* server() const { return server_.get(); }

    // Commands from the page go to `handler` from now on (before: they are dropped).
    void setCommandHandler(std::function<void(const std::string&)> handler);

  private:
    void command(const std::string& text);

    std::shared_ptr<LiveEncoder> encoder_;
    std::unique_ptr<RtpPublisher> publisher_;
    std::unique_ptr<ViewServer> server_;
    std::mutex mutex_;
    std::function<void(const std::string&)> handler_;
};

} // namespace host
