#include "pipeline/Framebuffer.h"
#include "pipeline/Operations.h"

struct RenderView::Impl {
    mutable std::mutex mutex;
    Frame latest;
    std::function<void(uint64_t)> observer;
    // GPU queue only: the pixels of the frame before last, reused when nobody holds them.
    std::shared_ptr<std::vector<uint8_t>> spare;
};

RenderView::RenderView() : impl_(std::make_shared<Impl>()) {}

RenderView::~RenderView() = default;

void RenderView::newFramebufferAvailable(const FramebufferRef& framebuffer, unsigned) {
    // Only this queue can hand out the spare, so a count of one stays one.
    auto pixels = impl_->spare && impl_->spare.use_count() == 1 ? std::move(impl_->spare)
                                                                : std::make_shared<std::vector<uint8_t>>();
    impl_->spare.reset();
    framebuffer->read(*pixels);
    std::function<void(uint64_t)> observer;
    std::shared_ptr<const std::vector<uint8_t>> previous;
    uint64_t sequence;
    {
        std::lock_guard lock(impl_->mutex);
        previous = std::move(impl_->latest.rgba);
        sequence = impl_->latest.sequence + 1;
        impl_->latest = Frame{framebuffer->width(), framebuffer->height(), std::move(pixels), sequence,
                              framebuffer->captureTime()};
        observer = impl_->observer;
    }
    impl_->spare = std::const_pointer_cast<std::vector<uint8_t>>(previous);
    if (observer)
        observer(sequence);
}

void RenderView::reset() {
    removeAllSources();
}

RenderView::Frame RenderView::latestFrame() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->latest;
}

void RenderView::setFrameObserver(std::function<void(uint64_t sequence)> observer) {
    std::lock_guard lock(impl_->mutex);
    impl_->observer = std::move(observer);
}
