// Serving: the live encoder on the render view, the page's readouts kept current, its
// commands performed as a touch would be, and what print-ui and --stats say of it.
#include <atomic>
#include <variant>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/HostCore.h"
#include "host/script/AssistCommands.h"
#include "host/script/TouchSynthesis.h"
#include "host/script/UiInspector.h"
#include "host/script/ViewSearch.h"
#include "ui/UIControls.h"

namespace host {

void HostCore::connectServing() {
    const auto& serve = configuration_.serve;
    if (!serve)
        return;
    renderView_->addSink(serve->encoder());
    std::weak_ptr<HostCore> weak = weak_from_this();
    serve->setCommandHandler([weak](const std::string& command) {
        DispatchQueue::main().async([weak, command] {
            if (auto self = weak.lock())
                self->performPageCommand(command);
        });
    });
}

// Main thread: a command the page sent (one the server allows), as a person would do it.
void HostCore::performPageCommand(const std::string& command) {
    auto parsed = script::parseScript(command);
    auto* steps = std::get_if<script::Script>(&parsed);
    if (!window_ || !steps || steps->steps.size() != 1)
        return;
    const auto& step = steps->steps.front().command;
    if (const auto* swipe = std::get_if<script::Swipe>(&step))
        sendGesture(swipeEvents(touchCentre(), swipe->direction, 0));
    else if (const auto* assist = std::get_if<script::SetAssist>(&step)) {
        if (const std::string missing = script::performAssist(*window_, *assist); !missing.empty())
            foundation::logError("fernhold: the page's " + command + ": " + missing);
    }
    screenChanged();
}

// GPU queue, each frame: the readouts the page shows are read on the main thread, at most
// one reading waiting at a time.
void HostCore::refreshServedState() {
    const auto& serve = configuration_.serve;
    if (!serve || !serve->server() || servedStatePending_.exchange(true))
        return;
    std::weak_ptr<HostCore> weak = weak_from_this();
    DispatchQueue::main().async([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->servedStatePending_ = false;
        if (!self->window_)
            return;
        auto text = [&](const char* identifier) {
            auto* label = findView<UILabel>(*self->window_, identifier);
            return label ? label->text() : std::string();
        };
        self->configuration_.serve->server()->publishState(text("filterNameLabel"), text("luminosityLabel"));
    });
}

// print-ui's "serve":{"url":…,"viewers":…}, or nothing without --serve.
std::string HostCore::describeServing() const {
    const auto& serve = configuration_.serve;
    if (!serve || !serve->server())
        return "";
    return "\"serve\":{\"url\":" + jsonString(serve->server()->url()) +
           ",\"viewers\":" + std::to_string(serve->server()->viewers()) + "}";
}

// --stats: "viewers 2, sent 1234567 bytes" with --serve; "published 300 frames" with --publish.
std::string HostCore::servingNote() const {
    const auto& serve = configuration_.serve;
    if (!serve)
        return "";
    if (!serve->server())
        return "published " + std::to_string(serve->encoder()->encoded()) + " frames";
    return "viewers " + std::to_string(serve->server()->viewers()) + ", sent " +
           std::to_string(serve->server()->bytesSent()) + " bytes";
}

} // namespace host
