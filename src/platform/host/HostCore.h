#pragma once
// What both hosts share: the scripted session, frame counting, statistics, snapshots and
// the way out. A host subclass adds only its main loop and its screen (a window, or
// nothing at all), so a script behaves the same with or without a window.
//
// Threads: the main thread runs the main loop, every UI change and the composition; the
// script player has its own thread and hands each UI action to the main queue with
// sync(), exactly where a person's touch would arrive; the render view hands frames to the
// host's sinks on the GPU queue: the counter counts them and wakes the main loop, the grab
// reads one back for a photo or a capture, which the photo queue then writes.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/AVCaptureDevice.h"
#include "dispatch/DispatchQueue.h"
#include "host/CommandLine.h"
#include "host/SignalWatcher.h"
#include "host/output/LoopbackOutput.h"
#include "host/photos/PhotoLibrary.h"
#include "host/recording/Recorder.h"
#include "host/screen/ScreenComposer.h"
#include "host/script/ScriptParser.h"
#include "host/script/ScriptPlayer.h"
#include "host/script/TouchSynthesis.h"
#include "host/serve/ServeSession.h"
#include "host/statistics/FrameCounter.h"
#include "host/statistics/FrameStatistics.h"
#include "pipeline/FrameGrab.h"
#include "pipeline/Operations.h"
#include "ui/UIApplication.h"

class UIButton;

namespace host {

class CameraPanel;
class HeldControlCommands;
class SettingsStore;

// The device the camera opened through the default device factory, once it has: scripts
// reach it for pressure reports and the lock switch, the shutdown for its streaming state.
class OpenedDevice {
  public:
    void set(const std::shared_ptr<AVCaptureDevice>& device);
    std::shared_ptr<AVCaptureDevice> get() const;
    // A device that breaks down while streaming (a webcam unplugged) says so here, on
    // its own thread, after writing the reason to standard error.
    void setFailureHandler(std::function<void()> handler);
    void reportFailure();
    // A webcam that went away (false) or came back (true), on its own thread; true also when
    // a camera is first opened (set), on the thread that opened it.
    void setAvailabilityHandler(std::function<void(bool)> handler);
    void reportAvailability(bool available);

  private:
    mutable std::mutex mutex_;
    std::weak_ptr<AVCaptureDevice> device_;
    std::function<void()> failureHandler_;
    std::function<void(bool)> availabilityHandler_;
};

struct HostConfiguration {
    Options options;
    std::optional<script::Script> script;
    std::shared_ptr<OpenedDevice> device = std::make_shared<OpenedDevice>();
    // Whether runMainLoop ends the process itself (see HostCore::finish).
    bool endsProcess = true;
    ScriptPlayer::Settings scriptSettings{};
    // --output: the node the picture is written to, opened before the run.
    std::shared_ptr<LoopbackOutput> output;
    // --serve and --publish: the encoder and what sends its stream, started before the run.
    std::shared_ptr<ServeSession> serve;
    // What is remembered between runs; null for a run that keeps nothing.
    std::shared_ptr<SettingsStore> settings;
};

// The rate the output node announces to its readers: the camera's usual one.
inline constexpr int outputFramesPerSecond = 30;

class HostCore : public UIApplicationHost,
                 public ScriptActions,
                 public std::enable_shared_from_this<HostCore> {
  public:
    explicit HostCore(HostConfiguration configuration);
    ~HostCore() override;

    void sceneDidLoad(const std::shared_ptr<UIWindow>& window) override;
    int runMainLoop() final;

    // Any thread: leave the main loop with `status` (the first request wins).
    void requestQuit(int status);
    bool quitRequested() const { return quitRequested_.load(); }

    // Snapshots are rendered at this many pixels per point, like a phone's screen.
    static constexpr double snapshotScale = 2;
    // The screen a run without a window lays its views out for: the window's default, so a
    // script's snapshots mean the same with or without one.
    static constexpr CGSize defaultWindowSize{1280, 720};

  protected:
    // The host's own loop: returns once quitRequested() is true.
    virtual void runLoop() = 0;
    // Main thread: the composer for snapshots (and the window's drawing), made on first
    // use with whatever GL context the host has; null with `error` when none can be made.
    virtual ScreenComposer* composer(NSError* error) = 0;
    // GPU queue: a frame was presented.
    virtual void frameArrived() {}
    // Main thread: something on screen may have changed (a touch was delivered).
    virtual void screenChanged() {}

    const std::shared_ptr<UIWindow>& window() const { return window_; }
    const Options& options() const { return configuration_.options; }
    // What is remembered between runs; null for a run that keeps nothing.
    SettingsStore* settings() const { return configuration_.settings.get(); }
    // Main thread, as the run ends: the host's own choices to remember (the window's).
    virtual void rememberChoices(SettingsStore&) {}
    // Main thread: the point a touch of the render view lands on (its centre).
    CGPoint touchCentre() const;
    // Main thread: delivers a touch sequence to the key window, as the window system does.
    void sendTouches(const std::vector<UIEvent>& events);
    // Main thread: a made-up sequence (stamped from 0), moved onto the touch clock and sent.
    void sendGesture(std::vector<UIEvent> events);
    // Main thread: the one clock for every touch's timestamp.
    TouchClock& touchClock() { return touchClock_; }
    // Main thread: a photo of the processed picture as shown now, written on the photo
    // queue; its path (or why it could not be written) goes to standard error and, in
    // short, to showNotice.
    void shutter();
    // Main thread: a short line for the person at the screen (a photo saved or not).
    virtual void showNotice(const std::string&) {}
    // Main thread: whether the help overlay is up, where there is one to show.
    virtual std::optional<bool> helpShown() const { return std::nullopt; }
    // Main thread: shows the photo folder in the desktop's file manager; a run without a
    // desktop names it on standard error.
    virtual void openPhotoFolder();
    const std::filesystem::path& photoFolderPath() const { return photos_->folder(); }
    // Main thread: starts a recording, or stops the one running (the record key and button).
    void toggleRecording();

  private:
    // ScriptActions.
    void perform(const script::Step& step) override;
    void scriptFinished(bool cancelled) override;

    void startServices();
    int shutDown();
    bool settled() const;
    bool finishingFiles() const;
    int finish(int status);
    std::string outputPath(const std::string& file) const;
    void runOnMain(const std::function<void()>& work);
    void touchControl(const script::Step& step, const script::TouchMode& touch);
    void reportPressure(const script::Step& step, const AVCaptureSystemPressureLevel& level);
    void switchLock(const script::Step& step, bool refuse);
    void setAppearance(bool appears);
    void printUi();
    // Main thread or the script's: writing to the output node on or off.
    void setOutputActive(bool active);
    void toggleOutput();
    void connectOutputButton();
    void dragSlider(const script::Step& step, const script::DragSlider& drag);
    void snapshot(const script::Step& step, const std::string& file);
    void capture(const script::Step& step, const std::string& file);
    void failed(const std::string& line);
    void connectShutterButton();
    // Main thread: each touch of the button `identifier` (when the screen has one) calls
    // `action` on this host while it lives; the button, or null.
    UIButton* connectButton(const char* identifier, void (HostCore::*action)());
    // The recorder: a sink of the render view, started and stopped by the key, the button,
    // a script or --record; a run ends only once its file is finalised.
    void connectRecorder();
    void startRecording();
    void stopRecording();
    // Main thread: the record button as the recording stands, ticking each second.
    void showRecordingState();
    void refreshRecordButton();
    // print-ui's "recording":{"active":…,"seconds":…,"file":…}.
    std::string describeRecording() const;
    void photo();
    // Serving (see HostServe.cpp): the encoder a sink, the page's commands performed.
    void connectServing();
    void performPageCommand(const std::string& command);
    void refreshServedState();
    std::string describeServing() const;
    std::string servingNote() const;
    // Any thread: reads the frame shown now back and writes it as a photo on the photo
    // queue; `done` gets the notice line there (at once when nothing has been shown yet).
    void takePhoto(std::function<void(const std::string& notice)> done);
    // Any thread: the pixels of the frame shown now, or nothing before the first frame.
    std::optional<FramePixels> grabShownFrame();

    HostConfiguration configuration_;
    std::shared_ptr<UIWindow> window_;
    RenderView* renderView_ = nullptr;
    std::shared_ptr<FrameCounter> frames_ = std::make_shared<FrameCounter>();
    std::shared_ptr<StatisticsReporter> statistics_;
    std::unique_ptr<ScriptPlayer> player_;
    std::unique_ptr<PhotoLibrary> photos_;
    std::shared_ptr<FrameGrab> grab_;
    std::shared_ptr<Recorder> recorder_;
    bool recordButtonTicking_ = false; // main thread
    DispatchQueue photoQueue_{"photos"};
    std::atomic<int> photosBeingWritten_{0};
    std::unique_ptr<SignalWatcher> signals_;
    TouchClock touchClock_;
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> exitStatus_{0};
    std::atomic<bool> failed_{false};
    std::shared_ptr<CameraPanel> cameraPanel_;
    std::shared_ptr<HeldControlCommands> heldControls_;
    std::atomic<bool> servedStatePending_{false};
};

} // namespace host
