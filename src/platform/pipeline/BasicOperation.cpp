#include <utility>

#include "pipeline/Framebuffer.h"
#include "pipeline/Operations.h"

BasicOperation::BasicOperation(unsigned inputs) : inputs_(inputs), latest_(inputs) {}

BasicOperation::~BasicOperation() = default;

void BasicOperation::newFramebufferAvailable(const FramebufferRef& framebuffer, unsigned index) {
    std::vector<FramebufferRef> inputs;
    {
        std::lock_guard lock(inputsMutex_);
        if (index >= latest_.size())
            return;
        latest_[index] = framebuffer;
        if (index != 0)
            return;
        inputs = latest_;
        // Input 0 is read once, now; letting it go lets its framebuffer be reused.
        latest_[0] = nullptr;
    }
    if (FramebufferRef output = render(inputs)) {
        if (!inputs.empty() && inputs[0])
            output->setCaptureTime(inputs[0]->captureTime());
        updateTargetsWithFramebuffer(output);
    }
}

void BasicOperation::sourceRemoved(unsigned index) {
    FramebufferRef released; // dropped outside the lock
    std::lock_guard lock(inputsMutex_);
    if (index < latest_.size())
        released = std::exchange(latest_[index], nullptr);
}
