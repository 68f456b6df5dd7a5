#pragma once
// The processed picture as a camera for other programs: a frame sink that writes every
// presented frame, as YUYV 4:2:2 converted on the GPU, to a V4L2 output node (a
// v4l2loopback device that browsers and call programs read as a webcam).
//
// The node is opened non-blocking and its format set once, at start-up, so that a node
// that cannot be written is said before the run begins. Frames reach the writer's own
// thread through a backlog of a few frames, so that a write held up for a frame or two (a
// busy machine, a reader that takes its time) loses nothing; a frame that finds the backlog
// full, and a write the node refuses for now (EAGAIN), is dropped and counted. The camera
// and the window never wait.
// A node that goes away while running (its module unloaded) is said once on standard
// error, and the run goes on without output.
//
// Threads: open(), setActive() and the counts from any thread; the sink calls on the GPU
// queue; the writes on the writer's thread.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/CMTime.h"
#include "pipeline/FrameSink.h"

class LoopbackOutput : public FrameSink {
  public:
    // Opens `path` and sets its format to `width` x `height` YUYV at `framesPerSecond`.
    // Null with `problem` (a line for a person) when the node is no video output device,
    // another program writes to it, or it cannot be opened.
    static std::shared_ptr<LoopbackOutput> open(const std::string& path, int width, int height,
                                                int framesPerSecond, std::string& problem);
    ~LoopbackOutput() override;
    LoopbackOutput(const LoopbackOutput&) = delete;
    LoopbackOutput& operator=(const LoopbackOutput&) = delete;

    const std::string& device() const { return path_; }
    // The frame interval readers are told (VIDIOC_S_PARM): the camera's, once it is open.
    void setFrameInterval(CMTime interval);
    // Writing on (the default) or off; a node that went away stays off.
    void setActive(bool active) { active_ = active; }
    bool active() const { return active_ && !gone_; }
    uint64_t written() const { return written_; }
    uint64_t dropped() const { return dropped_; }

    Needs needs() const override;
    void framePixels(const FramePixels& pixels) override;

  private:
    LoopbackOutput(std::string path, int fd, int width, int height);
    void run();
    void write(const FramePixels& frame);

    const std::string path_;
    const int fd_, width_, height_;
    std::atomic<bool> active_{true}, gone_{false};
    std::atomic<uint64_t> written_{0}, dropped_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    static constexpr size_t backlogFrames_ = 3; // 100 ms at 30 fps
    std::deque<FramePixels> pending_;           // oldest first
    bool stopping_ = false;
    std::thread writer_; // last: it starts on a complete object
};
