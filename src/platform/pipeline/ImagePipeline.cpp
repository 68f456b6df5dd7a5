// Connections between sources and consumers. Lock order: a consumer's delivery lock
// first (deliveries take them upstream to downstream, connection changes take one at a
// time), then at most one of the leaf locks (a consumer's sources, a source's targets),
// never two leaves at once.
#include "pipeline/ImagePipeline.h"

#include <algorithm>
#include <utility>

#include "dispatch/DispatchQueue.h"

std::vector<std::shared_ptr<ImageSource>> ImageConsumer::sources() const {
    unsigned inputs = maximumInputs();
    std::lock_guard lock(sourcesMutex_);
    auto result = sources_;
    result.resize(std::max<size_t>(result.size(), inputs));
    return result;
}

bool ImageConsumer::isSourceAt(const ImageSource* source, unsigned index) const {
    std::lock_guard lock(sourcesMutex_);
    return index < sources_.size() && sources_[index].get() == source;
}

void ImageConsumer::removeAllSources() {
    std::vector<std::shared_ptr<ImageSource>> previous; // released after the delivery lock
    {
        std::lock_guard delivery(deliveryMutex_);
        {
            std::lock_guard lock(sourcesMutex_);
            previous = std::exchange(sources_, std::vector<std::shared_ptr<ImageSource>>(sources_.size()));
        }
        for (unsigned index = 0; index < previous.size(); ++index) {
            if (!previous[index])
                continue;
            previous[index]->removeTarget(this, index);
            sourceRemoved(index);
        }
    }
}

std::optional<unsigned> ImageSource::addTarget(const std::shared_ptr<ImageConsumer>& consumer,
                                               std::optional<unsigned> atTargetIndex) {
    if (!consumer)
        return std::nullopt;
    auto self = std::dynamic_pointer_cast<ImageSource>(shared_from_this());
    const unsigned inputs = consumer->maximumInputs();
    std::shared_ptr<ImageSource> evicted; // released after the delivery lock
    std::optional<unsigned> previous;
    unsigned index = 0;
    {
        std::lock_guard delivery(consumer->deliveryMutex_);
        {
            std::lock_guard lock(consumer->sourcesMutex_);
            auto& slots = consumer->sources_;
            if (slots.size() < inputs)
                slots.resize(inputs);
            for (unsigned i = 0; i < slots.size(); ++i)
                if (slots[i].get() == this)
                    previous = i;
            if (atTargetIndex) {
                if (*atTargetIndex >= inputs)
                    return std::nullopt;
                index = *atTargetIndex;
            } else {
                // The lowest free input, counting the one this source would move away from,
                // so connecting again what is already connected keeps it where it is.
                auto free = std::find_if(slots.begin(), slots.begin() + inputs,
                                         [&](const auto& source) { return !source || source.get() == this; });
                if (free == slots.begin() + inputs)
                    return std::nullopt;
                index = unsigned(free - slots.begin());
            }
            if (previous == index)
                return index;
            if (previous)
                slots[*previous] = nullptr;
            evicted = std::exchange(slots[index], self);
        }
        if (evicted)
            evicted->removeTarget(consumer.get(), index);
        {
            std::lock_guard lock(targetsMutex_);
            std::erase_if(targets_, [&](const Target& target) {
                auto existing = target.consumer.lock();
                return !existing || existing == consumer;
            });
            targets_.push_back(Target{consumer, index});
        }
        if (previous)
            consumer->sourceRemoved(*previous);
        if (evicted)
            consumer->sourceRemoved(index);
    }
    targetAdded(consumer, index);
    return index;
}

void ImageSource::removeAllTargets() {
    std::vector<Target> previous;
    {
        std::lock_guard lock(targetsMutex_);
        previous.swap(targets_);
    }
    std::vector<std::shared_ptr<ImageSource>> released; // references to this, dropped last
    for (const Target& target : previous) {
        auto consumer = target.consumer.lock();
        if (!consumer)
            continue;
        std::lock_guard delivery(consumer->deliveryMutex_);
        std::vector<unsigned> freed;
        {
            std::lock_guard lock(consumer->sourcesMutex_);
            for (unsigned i = 0; i < consumer->sources_.size(); ++i) {
                if (consumer->sources_[i].get() != this)
                    continue;
                released.push_back(std::move(consumer->sources_[i]));
                freed.push_back(i);
            }
        }
        for (unsigned index : freed)
            consumer->sourceRemoved(index);
    }
}

size_t ImageSource::targetCount() const {
    std::lock_guard lock(targetsMutex_);
    return size_t(std::count_if(targets_.begin(), targets_.end(),
                                [](const Target& target) { return !target.consumer.expired(); }));
}

void ImageSource::removeTarget(const ImageConsumer* consumer, unsigned index) {
    std::lock_guard lock(targetsMutex_);
    std::erase_if(targets_, [&](const Target& target) {
        auto existing = target.consumer.lock();
        return !existing || (existing.get() == consumer && target.index == index);
    });
}

void ImageSource::updateTargetsWithFramebuffer(const FramebufferRef& framebuffer) {
    std::vector<Target> targets;
    {
        std::lock_guard lock(targetsMutex_);
        std::erase_if(targets_, [](const Target& target) { return target.consumer.expired(); });
        targets = targets_;
    }
    for (const Target& target : targets)
        if (auto consumer = target.consumer.lock())
            deliver(std::move(consumer), framebuffer, target.index);
}

void ImageSource::deliver(std::shared_ptr<ImageConsumer> consumer, const FramebufferRef& framebuffer,
                          unsigned index) {
    if (!consumer)
        return;
    {
        std::lock_guard delivery(consumer->deliveryMutex_);
        // Checked under the delivery lock: a source disconnected a moment ago (its target
        // list copied before the change) must not reach the consumer's new graph.
        if (consumer->isSourceAt(this, index))
            consumer->newFramebufferAvailable(framebuffer, index);
    }
    if (consumer.use_count() == 1 && consumer->releasedOnMainThread())
        DispatchQueue::main().async([last = std::move(consumer)] {});
}
