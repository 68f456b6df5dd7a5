#pragma once
// One recording as a GStreamer pipeline: the processed picture from an appsrc, stamped with
// each frame's capture time, and the default audio source, on one clock, encoded to H.264
// (a hardware encoder where one starts, x264 otherwise) and AAC-LC at 48 kHz, into an MP4
// written in fragments so that a file cut short by a crash plays up to its last second,
// and finalised as an ordinary MP4 by a clean end.
//
// Threads: start() and finish() from the recorder's queue; push() from the GPU queue,
// never waiting; the end handler on the pipeline's own bus thread, which outlives this
// object until the pipeline has stopped.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pipeline/FrameSink.h"

namespace host {

class LiveEncoder;

struct RecordingEnd {
    bool clean = false;  // finalised after the end of the stream
    std::string problem; // why it stopped otherwise
};

class RecordingPipeline {
  public:
    // Frames waiting for the encoder beyond this many are dropped, not queued in memory.
    static constexpr unsigned maximumQueuedFrames = 4;

    struct Settings {
        std::filesystem::path file;
        int width = 0, height = 0;
        bool audio = true;
        // Where the recording's time starts: frames captured earlier are not recorded.
        std::chrono::steady_clock::time_point start;
        // The live stream being served, when there is one: the recording then takes its
        // picture, already encoded, from there instead of encoding it a second time, and
        // push() is not called.
        std::shared_ptr<LiveEncoder> shared;
        // With a shared picture: each frame's capture time as it goes into the file, on the
        // live encoder's streaming thread.
        std::function<void(std::chrono::steady_clock::time_point captured)> sharedFrameTaken;
    };
    using EndHandler = std::function<void(const RecordingEnd&)>;

    // Starts recording; null with `problem` when it cannot (no encoder, a file that cannot be
    // opened). `notes` gets lines for standard error about what was left out (no sound).
    static std::unique_ptr<RecordingPipeline> start(const Settings& settings, EndHandler ended,
                                                    std::string& problem, std::string& notes);
    ~RecordingPipeline();
    RecordingPipeline(const RecordingPipeline&) = delete;
    RecordingPipeline& operator=(const RecordingPipeline&) = delete;

    // GPU queue: hands the frame to the encoder; false when it is dropped (the encoder is
    // behind). Frames captured before startTime() must not be pushed.
    bool push(const FramePixels& pixels);
    // Any thread, at once on a stop: sound captured after `stop` is left out, however long
    // finish() waits for the last frames to come back from the GPU.
    void endSoundAt(std::chrono::steady_clock::time_point stop);
    // Ends the stream at `stop`: the last frame is shown until then, as the sound goes on
    // until then. The end handler follows once the file is finalised.
    void finish(std::chrono::steady_clock::time_point stop);

    // When the recording's time starts.
    std::optional<std::chrono::steady_clock::time_point> startTime() const;

    const std::string& encoderName() const { return encoder_; }
    // Whether the picture comes from the live stream, and how many of its frames so far.
    bool sharesEncoder() const;
    uint64_t sharedFrames() const;
    bool hasAudio() const { return audio_; }

    struct State;

  private:
    RecordingPipeline() = default;
    static std::unique_ptr<RecordingPipeline> startShared(const Settings& settings, EndHandler ended,
                                                          const char* audioEncoder, std::string& problem);
    std::shared_ptr<State> state_;
    std::string encoder_;
    bool audio_ = false;
};

} // namespace host
