#include "host/recording/Recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/Print.h"
#include "host/photos/PhotoLibrary.h"
#include "pipeline/Operations.h"

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

// The file is made here, empty and exclusively, so that no recording ever replaces
// another file; the pipeline then writes into it.
std::optional<std::filesystem::path> reserveFile(const std::filesystem::path& folder, std::string& problem) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        problem = "cannot create " + folder.string() + ": " + error.message();
        return std::nullopt;
    }
    const auto now = std::chrono::system_clock::now();
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const std::filesystem::path path = folder / photoName(now, attempt, "mp4");
        const int descriptor = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        if (descriptor >= 0) {
            ::close(descriptor);
            return path;
        }
        if (errno != EEXIST) {
            problem = "cannot write in " + folder.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
    }
    problem = "no free name in " + folder.string();
    return std::nullopt;
}

} // namespace

std::filesystem::path videoFolder(const std::optional<std::string>& requested) {
    return userMediaFolder(requested, "XDG_VIDEOS_DIR", "Videos");
}

std::shared_ptr<Recorder> Recorder::attach(RenderView& view, Settings settings, NoticeHandler notice) {
    std::shared_ptr<Recorder> recorder(new Recorder(std::move(settings), std::move(notice)));
    view.addSink(recorder);
    return recorder;
}

void Recorder::toggle() {
    if (status().active)
        stop();
    else
        start();
}

// The pipeline starts on the recorder's queue once the picture's size is known, at the
// next presented frame (see framePresented).
void Recorder::start() {
    std::lock_guard lock(mutex_);
    if (wanted_.load() || busy_.load() > 0)
        return;
    busy_.fetch_add(1);
    wanted_.store(true);
    file_.clear();
    presented_ = recorded_ = dropped_ = 0;
    lastPresentedSequence_ = lastPixelsSequence_ = 0;
    lastPresentedCapture_ = lastTakenCapture_ = {};
    stopping_ = endAsked_ = false;
    stoppingPipeline_.reset();
    started_ = {};
    startKnown_ = false;
}

void Recorder::stop() {
    std::shared_ptr<RecordingPipeline> pipeline;
    {
        std::lock_guard lock(mutex_);
        if (!wanted_.exchange(false))
            return;
        pipeline = pipeline_;
        if (!pipeline && !beginQueued_) {
            busy_.fetch_sub(1); // never started: no frame came
            return;
        }
        stopped_ = Clock::now();
        if (pipeline)
            pipeline->endSoundAt(stopped_);
        stoppingPipeline_ = pipeline;
        stopping_ = true;
        const bool allIn = pipeline && pipeline->sharesEncoder()
                               ? lastTakenCapture_ >= lastPresentedCapture_
                               : lastPixelsSequence_ >= lastPresentedSequence_;
        if (!pipeline || allIn) {
            askForEnd();
            return;
        }
    }
    // The frames presented before the stop are still on their way from the GPU (and, with
    // a shared picture, through the live encoder); the end follows them (see framePixels
    // and sharedFrameTaken), or this, should one never come.
    queue_.asyncAfter(std::chrono::seconds(1), [self = shared_from_this()] {
        std::lock_guard lock(self->mutex_);
        self->askForEnd();
    });
}

void Recorder::askForEnd() {
    if (!stopping_ || endAsked_)
        return;
    endAsked_ = true;
    queue_.async([self = shared_from_this(), pipeline = stoppingPipeline_, stop = stopped_] {
        if (pipeline)
            pipeline->finish(stop);
    });
}

void Recorder::begin(int width, int height) {
    std::string problem;
    const auto path = reserveFile(settings_.folder, problem);
    if (!path)
        return fault("recording: not started: " + problem, "Recording not started: " + problem);
    const auto start = Clock::now();
    std::string notes;
    std::weak_ptr<Recorder> weak = weak_from_this();
    std::shared_ptr<RecordingPipeline> pipeline = RecordingPipeline::start(
        {*path, width, height, settings_.audio, start, settings_.shared,
         [weak](Clock::time_point captured) {
             if (auto self = weak.lock())
                 self->sharedFrameTaken(captured);
         }},
        [weak](const RecordingEnd& end) {
            if (auto self = weak.lock())
                self->ended(end);
        },
        problem, notes);
    if (!pipeline) {
        ::unlink(path->c_str());
        return fault("recording: not started: " + problem, "Recording not started: " + problem);
    }
    if (!notes.empty())
        foundation::logError(notes);
    foundation::logError("recording: started " + path->string() + " (" + pipeline->encoderName() +
                         (pipeline->hasAudio() ? ", with sound)" : ", picture alone)"));
    {
        std::lock_guard lock(mutex_);
        beginQueued_ = false;
        pipeline_ = pipeline;
        file_ = *path;
        started_ = start;
        if (wanted_.load())
            return;
        stopped_ = start; // stopped while it started
    }
    // Outside the lock: a shared picture's finish stops its branch, whose thread may be
    // waiting for the lock to report a frame taken.
    pipeline->finish(start);
}

void Recorder::ended(const RecordingEnd& end) {
    std::string notice;
    {
        std::lock_guard lock(mutex_);
        notice = finish(end);
    }
    // Told once no longer busy, so a shutdown woken by the notice sees the file finished.
    notice_(notice);
}

std::string Recorder::finish(const RecordingEnd& end) {
    if (pipeline_ && pipeline_->sharesEncoder()) { // the frames it took from the live stream
        recorded_ = pipeline_->sharedFrames();
        dropped_ = presented_ > recorded_ ? presented_ - recorded_ : 0;
    }
    const Clock::time_point until = wanted_.load() ? Clock::now() : stopped_;
    const std::string length = secondsText(std::chrono::duration<double>(until - started_).count());
    const std::string counts = "; " + std::to_string(presented_) + " frames presented, " +
                               std::to_string(recorded_) + " recorded, " + std::to_string(dropped_) +
                               " dropped)";
    const std::string name = file_.filename().string();
    if (end.clean)
        foundation::logError("recording: saved " + file_.string() + " (" + length + counts);
    else
        foundation::logError("recording: stopped: " + end.problem + "; " + file_.string() +
                             " keeps what was written (" + length + counts);
    wanted_.store(false);
    pipeline_.reset();
    startKnown_ = false;
    busy_.fetch_sub(1);
    return end.clean ? "Saved " + name : "Recording stopped: " + end.problem;
}

void Recorder::fault(const std::string& line, const std::string& notice) {
    foundation::logError(line);
    {
        std::lock_guard lock(mutex_);
        beginQueued_ = false;
        wanted_.store(false);
        busy_.fetch_sub(1);
    }
    notice_(notice);
}

Recorder::Status Recorder::status() const {
    std::lock_guard lock(mutex_);
    Status status;
    status.active = wanted_.load();
    status.file = file_.string();
    if (status.active && startKnown_)
        status.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    return status;
}

bool Recorder::busy() const {
    return busy_.load() > 0;
}

std::string Recorder::statisticsNote() const {
    std::lock_guard lock(mutex_);
    if (!pipeline_)
        return "";
    return ", recording dropped " + std::to_string(dropped_) + " (" + pipeline_->encoderName() + ")";
}

FrameSink::Needs Recorder::needs() const {
    return {wanted_.load() && !settings_.shared, {}}; // a shared picture comes encoded
}

void Recorder::framePresented(const PresentedFrame& frame) {
    std::lock_guard lock(mutex_);
    if (pipeline_ && !startKnown_)
        if (auto start = pipeline_->startTime()) {
            started_ = *start;
            startKnown_ = true;
        }
    if (startKnown_ && wanted_.load() && frame.captureTime >= started_) {
        ++presented_;
        lastPresentedSequence_ = frame.sequence;
        lastPresentedCapture_ = frame.captureTime;
    }
    if (wanted_.load() && !pipeline_ && !beginQueued_) {
        beginQueued_ = true;
        queue_.async([this, self = shared_from_this(), width = frame.width, height = frame.height] {
            begin(width, height);
        });
    }
}

// Frames come in the order they were captured; one shown twice is recorded once.
void Recorder::framePixels(const FramePixels& pixels) {
    std::shared_ptr<RecordingPipeline> pipeline;
    {
        std::lock_guard lock(mutex_);
        // After a stop, the frames presented before it still come in.
        const bool wanted =
            wanted_.load() || (stopping_ && !endAsked_ && pixels.sequence <= lastPresentedSequence_);
        if (!startKnown_ || !wanted || !pipeline_ || pixels.captureTime < started_ ||
            pixels.captureTime <= lastCapture_)
            return;
        lastCapture_ = pixels.captureTime;
        pipeline = pipeline_;
    }
    const bool queued = pipeline->push(pixels);
    std::lock_guard lock(mutex_);
    ++(queued ? recorded_ : dropped_);
    lastPixelsSequence_ = pixels.sequence;
    if (stopping_ && lastPixelsSequence_ >= lastPresentedSequence_)
        askForEnd();
}

// The live encoder's streaming thread, with a shared picture.
void Recorder::sharedFrameTaken(Clock::time_point captured) {
    std::lock_guard lock(mutex_);
    lastTakenCapture_ = std::max(lastTakenCapture_, captured);
    if (stopping_ && lastTakenCapture_ >= lastPresentedCapture_)
        askForEnd();
}

} // namespace host
