#include "host/HostCore.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <variant>

#include "capture/v4l2/V4L2CaptureDevice.h"
#include "dispatch/DispatchQueue.h"
#include "foundation/LeakCheck.h"
#include "foundation/Print.h"
#include "host/screen/PngFile.h"
#include "host/script/UiInspector.h"
#include "pipeline/Operations.h"
#include "ui/UIControls.h"

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

// How long the shutdown keeps serving the main queue for threads that still need it,
// and how long it must stay quiet before the process may end.
constexpr auto shutdownLimit = std::chrono::seconds(2);
constexpr auto shutdownQuiet = std::chrono::milliseconds(100);

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
// Spelled out for compilers without aggregate deduction (clang before 17).
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

template <typename View> View* findView(UIView& view, const std::string& identifier) {
    if (view.identifier() == identifier)
        if (auto* typed = dynamic_cast<View*>(&view))
            return typed;
    for (const auto& child : view.subviews())
        if (auto* found = findView<View>(*child, identifier))
            return found;
    return nullptr;
}

RenderView* findRenderView(UIView& view) {
    if (auto* renderView = dynamic_cast<RenderView*>(&view))
        return renderView;
    for (const auto& child : view.subviews())
        if (auto* found = findRenderView(*child))
            return found;
    return nullptr;
}

std::string at(const script::Step& step) {
    return "script:" + std::to_string(step.line) + ": ";
}

} // namespace

void OpenedDevice::set(const std::shared_ptr<AVCaptureDevice>& device) {
    std::lock_guard lock(mutex_);
    device_ = device;
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

HostCore::HostCore(HostConfiguration configuration) : configuration_(std::move(configuration)) {}

HostCore::~HostCore() {
    if (player_)
        player_->cancel();
}

void HostCore::sceneDidLoad(const std::shared_ptr<UIWindow>& window) {
    window_ = window;
    renderView_ = window_ ? findRenderView(*window_) : nullptr;
    if (!renderView_)
        return;
    std::weak_ptr<HostCore> weak = weak_from_this();
    std::weak_ptr<FrameCounter> frames = frames_;
    renderView_->setFrameObserver([weak, frames](uint64_t) {
        if (auto counter = frames.lock())
            counter->frameArrived();
        if (auto self = weak.lock())
            self->frameArrived();
    });
}

int HostCore::runMainLoop() {
    startServices();
    runLoop();
    return finish(shutDown());
}

void HostCore::startServices() {
    std::weak_ptr<HostCore> weak = weak_from_this();
    // Without its camera the run cannot go on: leave with a failure status.
    configuration_.device->setFailureHandler([weak] {
        if (auto self = weak.lock())
            self->requestQuit(1);
    });
    // A webcam away from the machine: the screen says so over the last picture, and the
    // run goes on until it is back.
    configuration_.device->setAvailabilityHandler([weak](bool available) {
        DispatchQueue::main().async([weak, available] {
            auto self = weak.lock();
            if (!self || !self->window_)
                return;
            if (auto* label = findView<UIView>(*self->window_, "cameraUnavailableLabel"))
                label->setHidden(available);
            self->screenChanged();
        });
    });
    if (const auto& seconds = configuration_.options.seconds)
        DispatchQueue::main().asyncAfter(
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds)), [weak] {
                if (auto self = weak.lock())
                    self->requestQuit(0);
            });
    if (configuration_.options.statistics) {
        statistics_ = std::make_shared<StatisticsReporter>(
            *frames_,
            [weak]() -> std::optional<std::string> {
                auto self = weak.lock();
                if (!self || !self->window_ || !self->window_->rootViewController())
                    return std::nullopt;
                return self->window_->rootViewController()->inspectValueForKey("frameStatistics");
            },
            [device = configuration_.device]() -> std::string {
                auto webcam = std::dynamic_pointer_cast<V4L2CaptureDevice>(device->get());
                return webcam ? webcam->frameRateControl() : std::string();
            });
        statistics_->start();
    }
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
    if (window_)
        if (auto root = window_->rootViewController())
            root->viewWillDisappear(false);
    const auto limit = Clock::now() + shutdownLimit;
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
        if (now >= limit)
            break;
        main.waitForWork(quietUntil ? std::min(*quietUntil, limit) : limit);
    }
    if (player_ && player_->finished())
        player_->join();
    if (!settled())
        foundation::logError("fernhold: the camera or the script did not stop in time; leaving anyway");
    // --stats ends with the final counts, taken once capture has stopped, so that every
    // frame the camera produced can be accounted for.
    if (statistics_ && window_)
        if (auto root = window_->rootViewController())
            if (auto json = root->inspectValueForKey("frameStatistics"))
                foundation::logError("stats: final presented " + std::to_string(frames_->count()) +
                                     ", camera " + *json);
    int status = exitStatus_.load();
    if (status == 0 && failed_.load())
        status = 1;
    return status;
}

bool HostCore::settled() const {
    if (player_ && !player_->finished())
        return false;
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
        renderView_ ? renderView_->frameInRoot() : (window_ ? window_->frame() : CGRectMake(0, 0, 390, 844));
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

void HostCore::runOnMain(const std::function<void()>& work) {
    DispatchQueue::main().sync(work);
}

// Relative names land in --out; folders named in the file name are made as needed.
std::string HostCore::outputPath(const std::string& file) const {
    std::filesystem::path path(file);
    if (path.is_relative() && !configuration_.options.outputDirectory.empty())
        path = std::filesystem::path(configuration_.options.outputDirectory) / path;
    std::error_code ignored; // a folder that cannot be made shows up as the write's error
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ignored);
    return path.string();
}

void HostCore::failed(const std::string& line) {
    failed_.store(true);
    foundation::logError(line);
}

void HostCore::perform(const script::Step& step) {
    std::visit(Overloaded{
                   [&](const script::Swipe& swipe) {
                       auto direction = swipe.direction == script::SwipeDirection::left
                                            ? SwipeDirection::left
                                            : SwipeDirection::right;
                       runOnMain([&] { sendGesture(swipeEvents(touchCentre(), direction, 0)); });
                   },
                   [&](const script::Tap&) { runOnMain([&] { sendGesture(tapEvents(touchCentre(), 0)); }); },
                   [&](const script::DoubleTap&) {
                       runOnMain([&] { sendGesture(doubleTapEvents(touchCentre(), 0)); });
                   },
                   [&](const script::Pinch& pinch) {
                       runOnMain([&] { sendGesture(pinchEvents(touchCentre(), pinch.scale, 0)); });
                   },
                   [&](const script::TouchMode& touch) { touchControl(step, touch); },
                   [&](const script::DragSlider& drag) { dragSlider(step, drag); },
                   [&](const script::Pressure& pressure) {
                       if (auto device = configuration_.device->get())
                           device->reportSystemPressure(pressure.level);
                       else
                           foundation::logError(
                               at(step) + "no capture device is open; the pressure report goes nowhere");
                   },
                   [&](const script::Lock& lock) {
                       if (auto device = configuration_.device->get())
                           device->setRefusesConfigurationLock(lock.refuse);
                       else
                           foundation::logError(at(step) +
                                                "no capture device is open; the lock switch does nothing");
                   },
                   [&](const script::Disappear&) {
                       runOnMain([&] {
                           if (auto root = window_ ? window_->rootViewController() : nullptr)
                               root->viewWillDisappear(false);
                           screenChanged();
                       });
                   },
                   [&](const script::Appear&) {
                       runOnMain([&] {
                           if (auto root = window_ ? window_->rootViewController() : nullptr)
                               root->viewWillAppear(false);
                           screenChanged();
                       });
                   },
                   [&](const script::Snapshot& shot) { snapshot(step, shot.file); },
                   [&](const script::Capture& shot) { capture(step, shot.file); },
                   [&](const script::SetAssist& assist) {
                       runOnMain([&] {
                           const std::string missing =
                               window_ ? script::performAssist(*window_, assist) : "there is no screen";
                           if (!missing.empty())
                               foundation::logError(at(step) + missing);
                           screenChanged();
                       });
                   },
                   [&](const script::PrintUi&) {
                       std::string line;
                       runOnMain([&] {
                           if (window_)
                               line = describeUi(*window_, window_->rootViewController().get());
                       });
                       foundation::logError(line);
                   },
                   // The player handles these itself.
                   [](const script::Wait&) {},
                   [](const script::WaitFrames&) {},
                   [](const script::Quit&) {},
               },
               step.command);
}

void HostCore::touchControl(const script::Step& step, const script::TouchMode& touch) {
    const std::string identifier = script::controlIdentifier(touch.control);
    runOnMain([&] {
        auto* control = window_ ? findView<UISegmentedControl>(*window_, identifier) : nullptr;
        if (!control) {
            foundation::logError(at(step) + "there is no " + identifier + " on the screen");
        } else if (control->isHiddenOnScreen()) {
            foundation::logError(at(step) + identifier + " is hidden; the touch does nothing");
        } else {
            control->touchSegment(touch.segment);
            screenChanged();
        }
    });
}

void HostCore::dragSlider(const script::Step& step, const script::DragSlider& drag) {
    const std::string identifier = script::sliderIdentifier(drag.slider);
    runOnMain([&] {
        auto* slider = window_ ? findView<UISlider>(*window_, identifier) : nullptr;
        if (!slider) {
            foundation::logError(at(step) + "there is no " + identifier + " on the screen");
        } else if (slider->isHiddenOnScreen()) {
            foundation::logError(at(step) + identifier + " is hidden; the touch does nothing");
        } else {
            slider->dragTo(static_cast<float>(drag.value));
            screenChanged();
        }
    });
}

void HostCore::snapshot(const script::Step& step, const std::string& file) {
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    NSError error;
    bool drawn = false;
    runOnMain([&] {
        ScreenComposer* screen = composer(&error);
        if (screen && window_)
            drawn = screen->snapshot(*window_, snapshotScale, rgba, width, height, &error);
    });
    if (!drawn)
        return failed(at(step) + "snapshot failed: " + error.localizedDescription());
    // The encoding happens here, off the main thread, so the screen keeps moving.
    if (!writePng(outputPath(file), width, height, rgba, &error))
        failed(at(step) + "snapshot failed: " + error.localizedDescription());
}

void HostCore::capture(const script::Step& step, const std::string& file) {
    RenderView::Frame frame;
    runOnMain([&] {
        if (renderView_)
            frame = renderView_->latestFrame();
    });
    if (!frame.rgba)
        return failed(at(step) + "capture failed: no frame has been presented yet");
    NSError error;
    if (!writePng(outputPath(file), frame.width, frame.height, *frame.rgba, &error))
        failed(at(step) + "capture failed: " + error.localizedDescription());
}

void HostCore::scriptFinished(bool cancelled) {
    if (!cancelled)
        requestQuit(0);
    else
        DispatchQueue::main().async([] {}); // the shutdown waits for this thread to leave
}

} // namespace host
