#include <algorithm>
#include <mutex>

#include "pipeline/FrameReadback.h"
#include "pipeline/Framebuffer.h"
#include "pipeline/GPUContext.h"
#include "pipeline/Operations.h"
#include "pipeline/YuyvPacking.h"

namespace {
// A read not done at the next frame is looked at again after this, then after twice as
// long each time, so a last frame (a photo of a stopped camera) still arrives promptly.
constexpr auto firstCollectDelay = std::chrono::milliseconds(2);
constexpr auto longestCollectDelay = std::chrono::milliseconds(64);
} // namespace

struct RenderView::Impl {
    ~Impl() {
        // The read-backs' buffers belong to the GPU queue's context.
        for (auto* held : {&readback, &yuyvReadback})
            if (*held && (*held)->holdsBuffers() && !GPUContext::shared().isCurrentQueue())
                GPUContext::shared().runAsync([gone = std::shared_ptr<FrameReadback>(std::move(*held))] {});
    }

    mutable std::mutex mutex;
    PresentedFrame latest;
    std::atomic<uint64_t> readBack{0};

    // GPU queue only.
    struct Sink {
        std::weak_ptr<FrameSink> sink;
        const FrameSink* identity;
        std::chrono::steady_clock::time_point lastPixels{};
        uint64_t lastPixelsSequence = 0;
    };
    std::vector<Sink> sinks;
    std::unique_ptr<FrameReadback> readback = std::make_unique<FrameReadback>();
    std::unique_ptr<FrameReadback> yuyvReadback = std::make_unique<FrameReadback>(PixelLayout::yuyv);
    // Reused, so a frame allocates nothing.
    std::vector<std::weak_ptr<FrameSink>> recipients, yuyvRecipients;
    bool collectScheduled = false;
    std::chrono::steady_clock::duration collectDelay = firstCollectDelay;

    void present(const PresentedFrame& frame);
    void serveLatest();
    void startRead(const PresentedFrame& frame);
    void startYuyvRead(const PresentedFrame& frame);
    void collect(bool wait) { readback->collect(wait), yuyvReadback->collect(wait); }
    bool inFlight() const { return readback->inFlight() || yuyvReadback->inFlight(); }
    void scheduleCollect(const std::shared_ptr<Impl>& self);
};

void RenderView::Impl::startRead(const PresentedFrame& frame) {
    if (recipients.empty())
        return;
    readback->start(frame, recipients);
    readBack.fetch_add(1);
}

// The packed picture is read like any other; it goes back to the framebuffer cache once
// dropped, and the read queued before any later draw into it still sees this frame.
void RenderView::Impl::startYuyvRead(const PresentedFrame& frame) {
    if (yuyvRecipients.empty())
        return;
    PresentedFrame packed = frame;
    if (!(packed.framebuffer = packYuyv(*frame.framebuffer)))
        return;
    packed.width = packed.framebuffer->width();
    yuyvReadback->start(packed, yuyvRecipients);
    readBack.fetch_add(1);
}

void RenderView::Impl::present(const PresentedFrame& frame) {
    const auto now = std::chrono::steady_clock::now();
    recipients.clear();
    yuyvRecipients.clear();
    std::erase_if(sinks, [](const Sink& entry) { return entry.sink.expired(); });
    for (Sink& entry : sinks) {
        auto sink = entry.sink.lock();
        if (!sink)
            continue;
        sink->framePresented(frame);
        const FrameSink::Needs needs = sink->needs();
        if (!needs.pixels || (entry.lastPixelsSequence != 0 && now - entry.lastPixels < needs.pixelInterval))
            continue;
        entry.lastPixels = now;
        entry.lastPixelsSequence = frame.sequence;
        (needs.layout == PixelLayout::yuyv ? yuyvRecipients : recipients).push_back(entry.sink);
    }
    startRead(frame);
    startYuyvRead(frame);
}

void RenderView::Impl::serveLatest() {
    PresentedFrame frame;
    {
        std::lock_guard lock(mutex);
        frame = latest;
    }
    if (frame.sequence == 0)
        return; // the first frame serves them
    recipients.clear();
    for (Sink& entry : sinks) {
        auto sink = entry.sink.lock();
        const FrameSink::Needs needs = sink ? sink->needs() : FrameSink::Needs{};
        if (!needs.pixels || needs.layout != PixelLayout::rgba || entry.lastPixelsSequence >= frame.sequence)
            continue;
        entry.lastPixelsSequence = frame.sequence;
        entry.lastPixels = std::chrono::steady_clock::now();
        if (readback->lastCollected().sequence == frame.sequence)
            sink->framePixels(readback->lastCollected());
        else if (!readback->join(frame.sequence, entry.sink))
            recipients.push_back(entry.sink);
    }
    startRead(frame);
}

void RenderView::Impl::scheduleCollect(const std::shared_ptr<Impl>& self) {
    if (collectScheduled || !inFlight())
        return;
    collectScheduled = true;
    GPUContext::shared().runAfter(collectDelay, [self] {
        self->collectScheduled = false;
        self->collect(false);
        self->collectDelay =
            self->inFlight()
                ? std::min<std::chrono::steady_clock::duration>(self->collectDelay * 2, longestCollectDelay)
                : firstCollectDelay;
        self->scheduleCollect(self);
    });
}

RenderView::RenderView() : impl_(std::make_shared<Impl>()) {}

RenderView::~RenderView() = default;

void RenderView::newFramebufferAvailable(const FramebufferRef& framebuffer, unsigned) {
    Impl& impl = *impl_;
    impl.collect(false); // reads of earlier frames that have finished go first
    PresentedFrame frame{0,           framebuffer->width(), framebuffer->height(), framebuffer->captureTime(),
                         framebuffer, GPUFence::insert()};
    {
        std::lock_guard lock(impl.mutex);
        frame.sequence = impl.latest.sequence + 1;
        impl.latest = frame;
    }
    impl.present(frame);
    impl.scheduleCollect(impl_);
}

void RenderView::reset() {
    removeAllSources();
}

void RenderView::addSink(const std::shared_ptr<FrameSink>& sink) {
    GPUContext::shared().runAsync(
        [impl = impl_, weak = std::weak_ptr<FrameSink>(sink), identity = sink.get()] {
            impl->sinks.push_back(Impl::Sink{weak, identity});
            PresentedFrame frame;
            {
                std::lock_guard lock(impl->mutex);
                frame = impl->latest;
            }
            if (auto added = weak.lock(); added && frame.sequence != 0)
                added->framePresented(frame);
        });
}

void RenderView::removeSink(const FrameSink* sink) {
    GPUContext::shared().runAsync([impl = impl_, sink] {
        std::erase_if(impl->sinks, [sink](const Impl::Sink& entry) { return entry.identity == sink; });
    });
}

void RenderView::sinkNeedsChanged() {
    GPUContext::shared().runAsync([impl = impl_] {
        impl->serveLatest();
        impl->scheduleCollect(impl);
    });
}

PresentedFrame RenderView::presentedFrame() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->latest;
}

uint64_t RenderView::readBackCount() const {
    return impl_->readBack.load();
}
