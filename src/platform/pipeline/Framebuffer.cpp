#include "pipeline/Framebuffer.h"

#include <GLES3/gl3.h>

#include <algorithm>

#include "foundation/Print.h"
#include "pipeline/GPUContext.h"

namespace {
// Enough for a frame in flight through the longest graph (Canny's passes plus the view)
// with one more frame behind it; beyond that, framebuffers are deleted.
constexpr size_t cacheCapacity = 12;

struct CachedFramebuffer {
    int width, height;
    Framebuffer::Format format;
    GLuint texture, fbo;
    // Set by another context that sampled the texture last; waited for before reuse.
    std::shared_ptr<GPUFence> released;
};
// GPU queue only. Never destroyed, like the GPU queue itself: framebuffers released
// while statics are destroyed still come back here.
std::vector<CachedFramebuffer>& cache() {
    static auto* entries = new std::vector<CachedFramebuffer>;
    return *entries;
}

void recycle(CachedFramebuffer entry) {
    auto& entries = cache();
    if (entries.size() < cacheCapacity) {
        entries.push_back(entry);
        return;
    }
    if (entry.released)
        entry.released->waitOnCurrentContext();
    glDeleteFramebuffers(1, &entry.fbo);
    glDeleteTextures(1, &entry.texture);
}
} // namespace

Framebuffer::Framebuffer(int width, int height, Format format, unsigned texture, unsigned fbo)
    : width_(width), height_(height), format_(format), texture_(texture), fbo_(fbo) {}

FramebufferRef Framebuffer::make(int width, int height, Format format) {
    auto& entries = cache();
    auto found = std::find_if(entries.begin(), entries.end(), [&](const CachedFramebuffer& e) {
        return e.width == width && e.height == height && e.format == format;
    });
    if (found != entries.end()) {
        CachedFramebuffer entry = std::move(*found);
        entries.erase(found);
        if (entry.released)
            entry.released->waitOnCurrentContext();
        return FramebufferRef(new Framebuffer(width, height, format, entry.texture, entry.fbo));
    }
    GLuint texture = 0, fbo = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    // Nearest: operations sample at texel centres of same-sized images, where nearest is
    // exact; the clamp keeps neighbourhood reads at the border on the border's texel.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexStorage2D(GL_TEXTURE_2D, 1, format == Format::rgba32ui ? GL_RGBA32UI : GL_RGBA8, width, height);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
        foundation::logError("gpu: framebuffer " + std::to_string(width) + "x" + std::to_string(height) +
                             " incomplete (status " + std::to_string(status) + ")");
    checkGLError("Framebuffer::make");
    return FramebufferRef(new Framebuffer(width, height, format, texture, fbo));
}

Framebuffer::~Framebuffer() {
    CachedFramebuffer entry{width_, height_, format_, texture_, fbo_, std::move(releaseFence_)};
    GPUContext& context = GPUContext::shared();
    if (context.isCurrentQueue())
        recycle(entry);
    else
        context.runAsync([entry = std::move(entry)] { recycle(entry); });
}

void Framebuffer::activate() const {
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glViewport(0, 0, width_, height_);
}

void Framebuffer::upload(const uint8_t* rgba, size_t bytesPerRow) {
    glBindTexture(GL_TEXTURE_2D, texture_);
    if (bytesPerRow % 4 == 0) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(bytesPerRow / 4));
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
        // GL counts row lengths in pixels: rows that do not end on a pixel go one at a time,
        // rather than through a packed copy of the frame.
        for (int y = 0; y < height_; ++y)
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, y, width_, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                            rgba + size_t(y) * bytesPerRow);
    }
    checkGLError("Framebuffer::upload");
}

void Framebuffer::read(std::vector<uint8_t>& out) const {
    out.resize(size_t(width_) * size_t(height_) * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    checkGLError("Framebuffer::read");
}

void Framebuffer::setReleaseFence(std::shared_ptr<GPUFence> fence) {
    std::lock_guard lock(releaseMutex_);
    releaseFence_ = std::move(fence);
}
