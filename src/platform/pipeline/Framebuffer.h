#pragma once
// A GPU image: an RGBA8 texture with the framebuffer object that renders into it. Row 0 of
// the texture is the first row in memory of the picture it holds (its top), so uploading
// and reading back keep memory order without flipping.
//
// Threads: made and used on the GPU queue; contexts that share the GPU queue's may sample
// the texture (see GPUFence.h). The last reference may be dropped anywhere; the GL objects
// then go back to the GPU queue, into a small cache of same-sized framebuffers that the
// next make() reuses, once the last reader's fence has passed.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "pipeline/GPUFence.h"
#include "pipeline/ImagePipeline.h"

class Framebuffer {
  public:
    // rgba8 holds pictures. rgba32ui holds an operation's intermediate values, packed as
    // it chooses (four unsigned 32-bit integers a texel); it is never uploaded or read.
    enum class Format { rgba8, rgba32ui };

    // GPU queue only. The contents are undefined until drawn or uploaded.
    static FramebufferRef make(int width, int height, Format format = Format::rgba8);
    ~Framebuffer();
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    Format format() const { return format_; }
    unsigned texture() const { return texture_; }
    unsigned framebufferObject() const { return fbo_; }
    // When the camera frame this picture was made from reached the camera source (zero for
    // pictures made from no frame, such as generated lines); each operation passes on its
    // first input's, so the render view knows how late it shows a frame.
    std::chrono::steady_clock::time_point captureTime() const { return captureTime_; }
    void setCaptureTime(std::chrono::steady_clock::time_point time) { captureTime_ = time; }

    // A rectangle of pixels: columns x0 ... x1 - 1 of rows y0 ... y1 - 1.
    struct PixelRect {
        int x0, y0, x1, y1;
    };
    // Where a mostly transparent picture may hold anything but transparent black, when its
    // maker knows (the line generator does): every texel outside these rectangles is
    // (0, 0, 0, 0). Null when the picture may differ anywhere. An operation laying this
    // picture over another then has only these rectangles to draw.
    const std::vector<PixelRect>* drawnRegions() const { return drawnRegions_ ? &*drawnRegions_ : nullptr; }
    void setDrawnRegions(std::optional<std::vector<PixelRect>> regions) {
        drawnRegions_ = std::move(regions);
    }

    // GPU queue only. Binds the framebuffer object and sets the viewport to all of it.
    void activate() const;
    // GPU queue only, rgba8 only. Replaces the contents with `rgba` (first row first, rows of
    // `bytesPerRow` bytes, a multiple of 4).
    void upload(const uint8_t* rgba, size_t bytesPerRow);
    // GPU queue only, rgba8 only. The contents as RGBA bytes, first row first, tightly packed; into
    // `out` (resized) so callers can reuse a buffer.
    void read(std::vector<uint8_t>& out) const;

    // Any thread with a context of the share group, after its last command that samples
    // the texture: the GPU queue draws into it again only after `fence`.
    void setReleaseFence(std::shared_ptr<GPUFence> fence);

  private:
    Framebuffer(int width, int height, Format format, unsigned texture, unsigned fbo);
    int width_, height_;
    Format format_;
    unsigned texture_, fbo_;
    std::chrono::steady_clock::time_point captureTime_{};
    std::optional<std::vector<PixelRect>> drawnRegions_;
    std::mutex releaseMutex_;
    std::shared_ptr<GPUFence> releaseFence_;
};
