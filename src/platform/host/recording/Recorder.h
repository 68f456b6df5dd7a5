#pragma once
// The recorder: a sink of the render view that, while recording, takes the pixels of every
// presented frame and hands them to a recording pipeline (see RecordingPipeline.h). Files
// go to one folder, named by the time they started like photos, never replacing one.
// Standard error gets the path when a recording starts and when it ends, with its length;
// faults get one line there and a notice for the screen, and the recording stops with
// what was written still playable.
//
// Threads: start(), stop() and the queries from any thread; starting and stopping run on
// the recorder's own queue; the sink calls on the GPU queue and never wait; the notice
// handler is called on the recorder's queue or the pipeline's thread.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dispatch/DispatchQueue.h"
#include "host/recording/RecordingPipeline.h"
#include "pipeline/FrameSink.h"

class RenderView;

namespace host {

class LiveEncoder;

// The folder recordings go to: `requested` (--videos) when given; otherwise the desktop's
// Videos folder (XDG_VIDEOS_DIR) plus /Fernhold; otherwise ~/Videos/Fernhold.
std::filesystem::path videoFolder(const std::optional<std::string>& requested);

class Recorder : public FrameSink, public std::enable_shared_from_this<Recorder> {
  public:
    struct Settings {
        std::filesystem::path folder;
        bool audio = true;
        // The live stream, in a run that serves or publishes one: recordings take their
        // picture from it rather than encoding it again (see SharedPicture).
        std::shared_ptr<LiveEncoder> shared;
    };
    // A short line for the person at the screen; any thread.
    using NoticeHandler = std::function<void(const std::string&)>;

    // Registered with `view`, which must outlive it.
    static std::shared_ptr<Recorder> attach(RenderView& view, Settings settings, NoticeHandler notice);

    void start();
    void stop();
    void toggle();

    struct Status {
        bool active = false; // recording, or about to
        double seconds = 0;
        std::string file;
    };
    Status status() const;
    // Recording or still finalising a file: a clean exit waits for this to turn false.
    bool busy() const;
    // For --stats while a recording runs: ", recording dropped 0 (x264enc)"; "" otherwise.
    std::string statisticsNote() const;

    Needs needs() const override;
    void framePresented(const PresentedFrame& frame) override;
    void framePixels(const FramePixels& pixels) override;

  private:
    Recorder(Settings settings, NoticeHandler notice)
        : settings_(std::move(settings)), notice_(std::move(notice)) {}
    void begin(int width, int height);
    void ended(const RecordingEnd& end);
    // Under the lock: the end said on standard error and the state reset; the notice.
    std::string finish(const RecordingEnd& end);
    void fault(const std::string& line, const std::string& notice);

    Settings settings_;
    NoticeHandler notice_;
    DispatchQueue queue_{"recording"};
    std::atomic<bool> wanted_{false}; // asked to record: the sink wants pixels
    std::atomic<int> busy_{0};

    mutable std::mutex mutex_;
    std::shared_ptr<RecordingPipeline> pipeline_;
    std::filesystem::path file_;
    bool beginQueued_ = false;
    bool startKnown_ = false; // started_ is when the pipeline's time starts
    std::chrono::steady_clock::time_point started_{}, stopped_{};
    std::chrono::steady_clock::time_point lastCapture_{};
    // A stop waits for the pixels of the frames presented before it, still being read back:
    // the last such frame, the last frame whose pixels came, and whether the end is asked.
    uint64_t lastPresentedSequence_ = 0, lastPixelsSequence_ = 0;
    // With a shared picture, the same by capture time: the last frame presented, and the
    // last one gone into the file from the live stream.
    std::chrono::steady_clock::time_point lastPresentedCapture_{}, lastTakenCapture_{};
    void sharedFrameTaken(std::chrono::steady_clock::time_point captured);
    bool stopping_ = false, endAsked_ = false;
    std::shared_ptr<RecordingPipeline> stoppingPipeline_;
    // Under the lock: asks the pipeline for its end once.
    void askForEnd();
    uint64_t presented_ = 0, recorded_ = 0, dropped_ = 0;
};

} // namespace host
