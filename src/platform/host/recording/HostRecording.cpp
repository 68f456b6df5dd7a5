// Recording: the key, the panel's button, the script commands and --record all end here;
// and the button that shows how long the recording has run.
#include <cmath>
#include <cstdio>
#include <utility>

#include "dispatch/DispatchQueue.h"
#include "host/HostCore.h"
#include "host/script/UiInspector.h"
#include "host/script/ViewSearch.h"
#include "ui/UIControls.h"

namespace host {
namespace {

// "0:07", "12:45", "1:02:03": the time recorded, as camera apps show it.
std::string elapsedText(double seconds) {
    const long whole = std::lround(std::floor(seconds));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

} // namespace

void HostCore::connectRecorder() {
    std::weak_ptr<HostCore> weak = weak_from_this();
    recorder_ =
        Recorder::attach(*renderView_,
                         {videoFolder(configuration_.options.videoDirectory), configuration_.options.audio,
                          configuration_.serve ? configuration_.serve->encoder() : nullptr},
                         [weak](const std::string& notice) {
                             DispatchQueue::main().async([weak, notice] {
                                 if (auto self = weak.lock()) {
                                     self->showNotice(notice);
                                     self->showRecordingState();
                                 }
                             });
                         });
    connectButton("recordButton", &HostCore::toggleRecording);
}

void HostCore::toggleRecording() {
    if (recorder_ && recorder_->status().active)
        stopRecording();
    else
        startRecording();
}

void HostCore::startRecording() {
    if (!recorder_)
        return;
    recorder_->start();
    refreshRecordButton();
}

void HostCore::stopRecording() {
    if (!recorder_)
        return;
    recorder_->stop();
    refreshRecordButton();
}

// Any thread: the button changes on the main thread, which may be the caller.
void HostCore::refreshRecordButton() {
    std::weak_ptr<HostCore> weak = weak_from_this();
    DispatchQueue::main().async([weak] {
        if (auto self = weak.lock())
            self->showRecordingState();
    });
}

void HostCore::showRecordingState() {
    UIButton* button = window_ ? findView<UIButton>(*window_, "recordButton") : nullptr;
    if (!button || !recorder_)
        return;
    const Recorder::Status status = recorder_->status();
    button->setSelected(status.active);
    button->setTitle(status.active ? elapsedText(status.seconds) : "Record");
    screenChanged();
    if (!status.active)
        return;
    if (std::exchange(recordButtonTicking_, true))
        return;
    // The next whole second of the recording, when the time shown changes.
    const double untilNext = 1.0 - (status.seconds - std::floor(status.seconds));
    std::weak_ptr<HostCore> weak = weak_from_this();
    DispatchQueue::main().asyncAfter(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                         std::chrono::duration<double>(untilNext + 0.01)),
                                     [weak] {
                                         if (auto self = weak.lock()) {
                                             self->recordButtonTicking_ = false;
                                             self->showRecordingState();
                                         }
                                     });
}

std::string HostCore::describeRecording() const {
    const Recorder::Status status = recorder_ ? recorder_->status() : Recorder::Status{};
    return "\"recording\":{\"active\":" + std::string(status.active ? "true" : "false") +
           ",\"seconds\":" + jsonNumber(std::round(status.seconds * 10) / 10) +
           ",\"file\":" + (status.file.empty() ? std::string("null") : jsonString(status.file)) + "}";
}

} // namespace host
