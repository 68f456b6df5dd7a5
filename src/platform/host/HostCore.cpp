#include "host/HostCore.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "dispatch/DispatchQueue.h"
#include "foundation/LeakCheck.h"
#include "foundation/Print.h"
#include "host/panel/CameraPanel.h"
#include "host/panel/MissingControls.h"
#include "host/script/HeldControlCommands.h"
#include "host/script/ViewSearch.h"
#include "host/settings/AssistChoices.h"
#include "host/settings/SettingsStore.h"
#include "pipeline/Operations.h"
#include "ui/UIControls.h"
#include "ui/UIScreen.h"

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

// How long the shutdown keeps serving the main queue for threads that still need it,
// and how long it must stay quiet before the process may end.
constexpr auto shutdownLimit = std::chrono::seconds(2);
// How long it waits beyond that for files still being finished (a photo being written, a
// recording being finalised): cut short, they would be lost or left unfinished.
constexpr auto finishingFilesLimit = std::chrono::seconds(30);
constexpr auto shutdownQuiet = std::chrono::milliseconds(100);

RenderView* findRenderView(UIView& view) {
    if (auto* renderView = dynamic_cast<RenderView*>(&view))
        return renderView;
    for (const auto& child : view.subviews())
        if (auto* found = findRenderView(*child))
            return found;
    return nullptr;
}

} // namespace

void OpenedDevice::set(const std::shared_ptr<AVCaptureDevice>& device) {
    {
        std::lock_guard lock(mutex_);
        device_ = device;
    }
    reportAvailability(true); // what waited for the camera to open can go on
}

std::shared_ptr<AVCaptureDevice> OpenedDevice::get() const {
    std::lock_guard lock(mutex_);
    return device_.lock();
}

void OpenedDevice::setFailureHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    failureHandler_ = std::move(handler);
}

void OpenedDevice::reportFailure() {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        handler = failureHandler_;
    }
    if (handler)
        handler();
}

void OpenedDevice::setAvailabilityHandler(std::function<void(bool)> handler) {
    std::lock_guard lock(mutex_);
    availabilityHandler_ = std::move(handler);
}

void OpenedDevice::reportAvailability(bool available) {
    std::function<void(bool)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = availabilityHandler_;
    }
    if (handler)
        handler(available);
}

HostCore::HostCore(HostConfiguration configuration)
    : configuration_(std::move(configuration)),
      heldControls_(std::make_shared<HeldControlCommands>(configuration_.device)) {}

HostCore::~HostCore() {
    if (player_)
        player_->cancel();
}

void HostCore::sceneDidLoad(const std::shared_ptr<UIWindow>& window) {
    window_ = window;
    if (window_)
        window_->resize(defaultWindowSize);
    connectShutterButton();
    connectOutputButton();
    if (window_)
        cameraPanel_ = CameraPanel::connect(*window_, configuration_.device, [this] { screenChanged(); });
    if (window_ && configuration_.settings)
        restoreAssists(*window_, *configuration_.settings);
    renderView_ = window_ ? findRenderView(*window_) : nullptr;
    if (!renderView_)
        return;
    // The frame counter and the grab of photos and captures are the host's sinks; the
    // screen's composer adds its own.
    std::weak_ptr<HostCore> weak = weak_from_this();
    frames_->setArrivalHandler([weak] {
        if (auto self = weak.lock()) {
            self->frameArrived();
            self->refreshServedState();
        }
    });
    renderView_->addSink(frames_);
    grab_ = FrameGrab::attach(*renderView_);
    if (configuration_.output)
        renderView_->addSink(configuration_.output);
    connectRecorder();
    connectServing();
}

int HostCore::runMainLoop() {
    startServices();
    runLoop();
    return finish(shutDown());
}

void HostCore::startServices() {
    std::weak_ptr<HostCore> weak = weak_from_this();
    // Ctrl+C, a service manager's SIGTERM and a closed terminal's SIGHUP end the run as
    // quitting does.
    signals_ = SignalWatcher::start([weak] {
        if (auto self = weak.lock())
            self->requestQuit(0);
    });
    // Without its camera the run cannot go on: leave with a failure status.
    configuration_.device->setFailureHandler([weak] {
        if (auto self = weak.lock())
            self->requestQuit(1);
    });
    // A webcam away from the machine: the screen says so over the last picture, and the
    // run goes on until it is back.
    configuration_.device->setAvailabilityHandler([weak, held = heldControls_](bool available) {
        held->cameraAvailable(available);
        DispatchQueue::main().async([weak, available] {
            auto self = weak.lock();
            if (!self || !self->window_)
                return;
            if (auto* label = findView<UIView>(*self->window_, "cameraUnavailableLabel"))
                label->setHidden(available);
            if (auto device = self->configuration_.device->get(); available && device)
                greyMissingControls(*self->window_, *device);
            self->screenChanged();
        });
    });
    // A camera opened before the handler was there: its sliders as it has them.
    if (auto device = configuration_.device->get(); device && window_)
        greyMissingControls(*window_, *device);
    if (const auto& seconds = configuration_.options.seconds)
        DispatchQueue::main().asyncAfter(
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds)), [weak] {
                if (auto self = weak.lock())
                    self->requestQuit(0);
            });
    if (configuration_.options.statistics) {
        statistics_ = std::make_shared<StatisticsReporter>(
            *frames_,
            [weak]() -> std::optional<ScreenStatistics> {
                auto self = weak.lock();
                if (!self || !self->window_ || !self->window_->rootViewController())
                    return std::nullopt;
                return self->window_->rootViewController()->frameStatistics();
            },
            [device = configuration_.device]() -> std::string {
                auto opened = device->get();
                return opened ? opened->statisticsNote() : std::string();
            },
            [renderView = renderView_]() -> uint64_t {
                return renderView ? renderView->readBackCount() : 0;
            });
        if (auto output = configuration_.output)
            statistics_->addNote([output] { return "output dropped " + std::to_string(output->dropped()); });
        if (configuration_.serve)
            statistics_->addNote([weak] {
                auto self = weak.lock();
                return self ? self->servingNote() : std::string();
            });
        statistics_->addNote([recorder = recorder_]() -> std::string {
            // ", recording dropped 0 (x264enc)" while a recording runs, else nothing.
            const std::string note = recorder ? recorder->statisticsNote() : "";
            return note.empty() ? note : note.substr(2);
        });
        statistics_->start();
    }
    if (configuration_.options.record)
        startRecording();
    if (configuration_.script) {
        player_ = std::make_unique<ScriptPlayer>(std::move(*configuration_.script), *this, *frames_,
                                                 configuration_.scriptSettings);
        configuration_.script.reset();
        player_->start();
    }
}

void HostCore::requestQuit(int status) {
    if (!quitRequested_.exchange(true))
        exitStatus_.store(status);
    DispatchQueue::main().async([] {}); // wakes the main loop to see the request
}

// Leaving without deadlock: the capture thread may be blocked in main().sync() at this
// moment, so the screen is told it disappears (which stops capture) and the main queue is
// served until the device has stopped, the script thread has left and nothing more has
// arrived for a moment, or a limit passes.
int HostCore::shutDown() {
    auto& main = DispatchQueue::main();
    if (statistics_)
        statistics_->stop();
    if (player_)
        player_->cancel();
    if (window_ && configuration_.settings)
        rememberAssists(*window_, *configuration_.settings);
    if (configuration_.settings)
        rememberChoices(*configuration_.settings);
    stopRecording();
    if (window_)
        if (auto root = window_->rootViewController())
            root->viewWillDisappear(false);
    const auto started = Clock::now();
    std::optional<Clock::time_point> quietUntil;
    for (;;) {
        if (main.drain() > 0)
            quietUntil.reset();
        const auto now = Clock::now();
        if (settled()) {
            if (!quietUntil)
                quietUntil = now + shutdownQuiet;
            if (now >= *quietUntil)
                break;
        }
        // Both a photo's write and a recording's end post to the main queue when done.
        const auto limit = started + (finishingFiles() ? finishingFilesLimit : shutdownLimit);
        if (now >= limit)
            break;
        main.waitForWork(quietUntil ? std::min(*quietUntil, limit) : limit);
    }
    if (player_ && player_->finished())
        player_->join();
    heldControls_->reportUnapplied();
    if (!settled())
        foundation::logError(
            "fernhold: the camera, the script or the recording did not stop in time; leaving "
            "anyway");
    // --stats ends with the final counts, taken once capture has stopped, so that every
    // frame the camera produced can be accounted for.
    if (statistics_ && window_)
        if (auto root = window_->rootViewController())
            if (auto counts = root->frameStatistics())
                foundation::logError("stats: final presented " + std::to_string(frames_->count()) +
                                     ", read back " +
                                     std::to_string(renderView_ ? renderView_->readBackCount() : 0) +
                                     ", camera " + describeStatistics(*counts));
    if (configuration_.settings)
        configuration_.settings->flush();
    int status = exitStatus_.load();
    if (status == 0 && failed_.load())
        status = 1;
    return status;
}

bool HostCore::finishingFiles() const {
    return photosBeingWritten_.load() > 0 || (recorder_ && recorder_->busy());
}

bool HostCore::settled() const {
    if (player_ && !player_->finished())
        return false;
    if (photosBeingWritten_.load() > 0)
        return false; // a photo taken just before quitting is written whole
    if (recorder_ && recorder_->busy())
        return false; // a recording is finalised into an ordinary file
    auto device = configuration_.device->get();
    return !device || !device->isStreaming();
}

// The process ends here rather than by returning from main: the device's and queues'
// threads may still be blocked on the main queue, and destroying the objects they use
// from static destructors would hang or crash. Everything written so far is flushed first.
int HostCore::finish(int status) {
    if (!configuration_.endsProcess)
        return status;
    std::fflush(stdout);
    std::fflush(stderr);
    foundation::checkForLeaksBeforeQuickExit();
    std::_Exit(status);
}

CGPoint HostCore::touchCentre() const {
    CGRect f =
        renderView_ ? renderView_->frameInRoot() : (window_ ? window_->frame() : UIScreen::mainBounds());
    return {f.origin.x + f.size.width / 2, f.origin.y + f.size.height / 2};
}

void HostCore::sendTouches(const std::vector<UIEvent>& events) {
    if (!window_)
        return;
    for (const auto& event : events)
        window_->sendEvent(event);
    screenChanged();
}

void HostCore::sendGesture(std::vector<UIEvent> events) {
    const double start = touchClock_.reserve(sequenceDuration(events));
    for (auto& event : events)
        event.timestamp += start;
    sendTouches(events);
}

void HostCore::scriptFinished(bool cancelled) {
    if (!cancelled)
        requestQuit(0);
    else
        DispatchQueue::main().async([] {}); // the shutdown waits for this thread to leave
}

} // namespace host
