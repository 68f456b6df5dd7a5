// The host's side of a script: what each command does to the screen and the device,
// run on the script player's thread, with every touch of the UI handed to the main queue
// where a person's touch would arrive.
#include <filesystem>
#include <variant>

#include "capture/CameraControls.h"
#include "capture/CaptureDeviceSwitches.h"
#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/HostCore.h"
#include "host/screen/PngFile.h"
#include "host/script/HeldControlCommands.h"
#include "host/script/UiInspector.h"
#include "host/script/ViewSearch.h"
#include "pipeline/Operations.h"
#include "ui/UIControls.h"

namespace host {
namespace {

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
// Spelled out for compilers without aggregate deduction (clang before 17).
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

std::string at(const script::Step& step) {
    return "script:" + std::to_string(step.line) + ": ";
}

// Main thread: `touch` on the control a script names, as a finger would, or one line
// saying why nothing happened.
template <typename Control>
void touchOnScreen(UIWindow* window, const script::Step& step, const std::string& identifier,
                   const std::function<void(Control&)>& touch) {
    auto* control = window ? findView<Control>(*window, identifier) : nullptr;
    if (!control)
        foundation::logError(at(step) + "there is no " + identifier + " on the screen");
    else if (control->isHiddenOnScreen())
        foundation::logError(at(step) + identifier + " is hidden; the touch does nothing");
    else
        touch(*control);
}

} // namespace

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
                       runOnMain([&] { sendGesture(swipeEvents(touchCentre(), swipe.direction, 0)); });
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
                   [&](const script::Pressure& pressure) { reportPressure(step, pressure.level); },
                   [&](const script::Lock& lock) { switchLock(step, lock.refuse); },
                   [&](const script::Disappear&) { setAppearance(false); },
                   [&](const script::Appear&) { setAppearance(true); },
                   [&](const script::Snapshot& shot) { snapshot(step, shot.file); },
                   [&](const script::Capture& shot) { capture(step, shot.file); },
                   [&](const script::Shutter&) { photo(); },
                   [&](const script::SetAssist& assist) {
                       runOnMain([&] {
                           const std::string missing =
                               window_ ? script::performAssist(*window_, assist) : "there is no screen";
                           if (!missing.empty())
                               foundation::logError(at(step) + missing);
                           screenChanged();
                       });
                   },
                   [&](const script::SetControl& set) { heldControls_->perform(step.line, set); },
                   [&](const script::PrintUi&) { printUi(); },
                   [&](const script::Output& output) {
                       if (!configuration_.output)
                           foundation::logError(at(step) + "there is no output (see --output)");
                       setOutputActive(output.on);
                   },
                   [&](const script::Record& record) { record.start ? startRecording() : stopRecording(); },
                   // The player handles these itself.
                   [](const script::Wait&) {},
                   [](const script::WaitFrames&) {},
                   [](const script::Quit&) {},
               },
               step.command);
}

void HostCore::reportPressure(const script::Step& step, const AVCaptureSystemPressureLevel& level) {
    if (auto device = configuration_.device->get())
        CaptureDeviceSwitches::reportSystemPressure(*device, level);
    else
        foundation::logError(at(step) + "no capture device is open; the pressure report goes nowhere");
}

void HostCore::switchLock(const script::Step& step, bool refuse) {
    if (auto device = configuration_.device->get())
        CaptureDeviceSwitches::setRefusesConfigurationLock(*device, refuse);
    else
        foundation::logError(at(step) + "no capture device is open; the lock switch does nothing");
}

void HostCore::setAppearance(bool appears) {
    runOnMain([&] {
        if (auto root = window_ ? window_->rootViewController() : nullptr) {
            if (appears)
                root->viewWillAppear(false);
            else
                root->viewWillDisappear(false);
        }
        screenChanged();
    });
}

void HostCore::printUi() {
    std::string line;
    std::optional<bool> help;
    runOnMain([&] {
        if (!window_)
            return;
        window_->layoutSubviews(); // frames as they are drawn now, after any control hid or showed
        line = describeUi(*window_, window_->rootViewController().get());
        help = helpShown();
    });
    if (const auto& output = configuration_.output; output && line.ends_with('}')) {
        line.pop_back();
        line += std::string(",\"output\":{\"active\":") + (output->active() ? "true" : "false") +
                ",\"device\":\"" + output->device() + "\"}}";
    }
    const auto device = configuration_.device->get();
    if (const auto controls = device ? device->cameraControls() : nullptr; controls && !line.empty()) {
        line.pop_back(); // the object's closing brace
        line += ",\"cameraControls\":" + script::describeCameraControls(*controls) + "}";
    }
    if (line.ends_with('}')) {
        line.pop_back();
        line += ',';
        line += describeRecording();
        if (help)
            line += std::string(",\"help\":{\"shown\":") + (*help ? "true" : "false") + "}";
        if (const std::string serving = describeServing(); !serving.empty())
            line += "," + serving;
        line += '}';
    }
    foundation::logError(line);
}

void HostCore::setOutputActive(bool active) {
    if (!configuration_.output)
        return;
    configuration_.output->setActive(active);
    // The panel's button says which way it is, whoever switched it (a touch, a script).
    std::weak_ptr<HostCore> weak = weak_from_this();
    DispatchQueue::main().async([weak, active] {
        auto self = weak.lock();
        if (!self || !self->window_)
            return;
        if (auto* button = findView<UIButton>(*self->window_, "outputButton"))
            button->setTitle(active ? "Output on" : "Output off");
        self->screenChanged();
    });
}

// The panel's output button, shown only in a run with --output: each touch toggles writing.
void HostCore::connectOutputButton() {
    UIButton* button = connectButton("outputButton", &HostCore::toggleOutput);
    if (!button)
        return;
    button->setHidden(!configuration_.output);
    if (configuration_.output)
        button->setTitle(configuration_.output->active() ? "Output on" : "Output off");
}

void HostCore::toggleOutput() {
    if (configuration_.output)
        setOutputActive(!configuration_.output->active());
}

void HostCore::touchControl(const script::Step& step, const script::TouchMode& touch) {
    runOnMain([&] {
        touchOnScreen<UISegmentedControl>(window_.get(), step, script::controlIdentifier(touch.control),
                                          [&](UISegmentedControl& control) {
                                              control.touchSegment(touch.segment);
                                              screenChanged();
                                          });
    });
}

void HostCore::dragSlider(const script::Step& step, const script::DragSlider& drag) {
    runOnMain([&] {
        touchOnScreen<UISlider>(window_.get(), step, script::sliderIdentifier(drag.slider),
                                [&](UISlider& slider) {
                                    slider.dragTo(static_cast<float>(drag.value));
                                    screenChanged();
                                });
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
    const std::optional<FramePixels> frame = grabShownFrame();
    if (!frame)
        return failed(at(step) + "capture failed: no frame has been presented yet");
    NSError error;
    if (!writePng(outputPath(file), frame->width, frame->height, *frame->rgba, &error))
        failed(at(step) + "capture failed: " + error.localizedDescription());
}

} // namespace host
