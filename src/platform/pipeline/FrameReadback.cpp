#include "pipeline/FrameReadback.h"

#include <GLES3/gl3.h>

#include <algorithm>
#include <cstring>

#include "media/FramePool.h"
#include "pipeline/Framebuffer.h"
#include "pipeline/GPUContext.h"

namespace {
// Long enough for any frame a GPU is still drawing; a read that takes longer is broken.
constexpr auto finishLimit = std::chrono::seconds(1);
} // namespace

FrameReadback::~FrameReadback() {
    for (Read& read : ring_)
        if (read.buffer)
            glDeleteBuffers(1, &read.buffer);
}

FrameReadback::Read* FrameReadback::oldestBusy() {
    Read* oldest = nullptr;
    for (Read& read : ring_)
        if (read.busy && (!oldest || read.order < oldest->order))
            oldest = &read;
    return oldest;
}

void FrameReadback::start(const PresentedFrame& frame,
                          const std::vector<std::weak_ptr<FrameSink>>& recipients) {
    auto free = std::find_if(ring_.begin(), ring_.end(), [](const Read& read) { return !read.busy; });
    if (free == ring_.end()) {
        Read* oldest = oldestBusy();
        oldest->done->waitUntilCompleted(finishLimit);
        finish(*oldest);
        free = std::find_if(ring_.begin(), ring_.end(), [](const Read& read) { return !read.busy; });
    }
    Read& read = *free;
    const size_t size = size_t(frame.width) * size_t(frame.height) * 4;
    if (!read.buffer)
        glGenBuffers(1, &read.buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, read.buffer);
    if (read.size != size) {
        glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(size), nullptr, GL_STREAM_READ);
        read.size = size;
    }
    frame.framebuffer->activate();
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    read.done = GPUFence::insert();
    if (!checkGLError("FrameReadback::start") || !read.done)
        return;
    const int width = layout_ == PixelLayout::yuyv ? frame.width * 2 : frame.width;
    read.pixels = FramePixels{frame.sequence, width, frame.height, frame.captureTime, nullptr, nullptr};
    read.recipients.assign(recipients.begin(), recipients.end());
    read.busy = true;
    read.order = ++started_;
}

bool FrameReadback::join(uint64_t sequence, const std::weak_ptr<FrameSink>& recipient) {
    for (Read& read : ring_)
        if (read.busy && read.pixels.sequence == sequence) {
            read.recipients.push_back(recipient);
            return true;
        }
    return false;
}

void FrameReadback::collect(bool wait) {
    while (Read* oldest = oldestBusy()) {
        if (wait ? !oldest->done->waitUntilCompleted(finishLimit) : !oldest->done->hasCompleted())
            return; // later reads finish after this one
        finish(*oldest);
    }
}

bool FrameReadback::inFlight() const {
    return std::any_of(ring_.begin(), ring_.end(), [](const Read& read) { return read.busy; });
}

bool FrameReadback::holdsBuffers() const {
    return std::any_of(ring_.begin(), ring_.end(), [](const Read& read) { return read.buffer != 0; });
}

void FrameReadback::finish(Read& read) {
    read.busy = false;
    read.done.reset();
    FramePool::Buffer bytes = FramePool::shared().take(read.size);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, read.buffer);
    const void* mapped = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(read.size), GL_MAP_READ_BIT);
    if (mapped) {
        std::memcpy(bytes->data(), mapped, read.size);
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (!mapped) {
        checkGLError("FrameReadback::finish");
        read.recipients.clear();
        return;
    }
    (layout_ == PixelLayout::yuyv ? read.pixels.yuyv : read.pixels.rgba) = std::move(bytes);
    last_ = read.pixels;
    read.pixels.rgba.reset();
    read.pixels.yuyv.reset();
    for (const auto& weak : read.recipients)
        if (auto sink = weak.lock())
            sink->framePixels(last_);
    read.recipients.clear();
}
