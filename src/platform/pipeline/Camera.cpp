#include <chrono>

#include "foundation/Print.h"
#include "pipeline/Framebuffer.h"
#include "pipeline/GPUContext.h"
#include "pipeline/Operations.h"

// Holds no reference to the device: the frame thread may drop the last reference to this
// state, and a device must not be destroyed from its own frame thread.
struct Camera::Impl : std::enable_shared_from_this<Impl> {
    std::atomic<bool> capturing{false};
    std::atomic<bool> everStarted{false};
    // Set while a frame of this camera is queued for or running on the GPU.
    std::atomic<bool> frameInFlight{false};
    std::atomic<uint64_t> produced{0}, droppedGpuBusy{0}, processed{0};

    std::mutex mutex;
    std::weak_ptr<Camera> owner;
    std::weak_ptr<CameraDelegate> delegate;

    // The frame in flight, handed from the frame thread to the GPU queue (the queue's
    // hand-over orders the writes before the reads); `keptAlive` holds this state until
    // the GPU queue has done with it. The closure queued carries only a pointer, so the
    // hand-over allocates nothing.
    CVPixelBufferRef inFlightPixels;
    std::chrono::steady_clock::time_point inFlightCaptured;
    std::shared_ptr<Impl> keptAlive;

    std::shared_ptr<Camera> lockOwner() {
        std::lock_guard lock(mutex);
        return owner.lock();
    }

    // On the device's frame thread.
    void frameArrived(const CMSampleBufferRef& sample) {
        if (!capturing.load())
            return;
        ++produced;
        std::shared_ptr<CameraDelegate> currentDelegate;
        {
            std::lock_guard lock(mutex);
            currentDelegate = delegate.lock();
        }
        if (currentDelegate)
            currentDelegate->didCaptureBuffer(sample);
        CVPixelBufferRef pixels = CMSampleBufferGetImageBuffer(sample);
        if (!pixels || pixels->width() <= 0 || pixels->height() <= 0 || !capturing.load())
            return;
        // One frame in flight at most: when the GPU has not finished the last one, this one
        // is dropped rather than queued, so the picture never lags behind the camera.
        if (frameInFlight.exchange(true)) {
            ++droppedGpuBusy;
            return;
        }
        ++processed;
        // The device's clock is the steady clock: its time is when the camera took the frame.
        inFlightCaptured = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(CMTimeGetSeconds(sample->presentationTimeStamp))));
        inFlightPixels = std::move(pixels);
        keptAlive = shared_from_this();
        GPUContext::shared().runAsync([self = this] { self->process(); });
    }

    // On the GPU queue.
    void process() {
        const std::shared_ptr<Impl> alive = std::move(keptAlive);
        CVPixelBufferRef pixels = std::move(inFlightPixels);
        FramebufferRef framebuffer = Framebuffer::make(pixels->width(), pixels->height());
        framebuffer->setCaptureTime(inFlightCaptured);
        framebuffer->upload(pixels->storage()->data(), pixels->bytesPerRow());
        // Back to the pool before the next frame may come: no more than two frames' pixels
        // (this one and the one the device is making) are ever held at once.
        pixels.reset();
        if (auto camera = lockOwner())
            camera->updateTargetsWithFramebuffer(framebuffer);
        frameInFlight.store(false);
    }
};

std::shared_ptr<Camera> Camera::make(const AVCaptureSessionPreset&,
                                     std::shared_ptr<AVCaptureDevice> cameraDevice,
                                     PhysicalCameraLocation location, std::optional<ImageOrientation>, bool,
                                     NSError* error) {
    if (!cameraDevice) {
        auto position = location == PhysicalCameraLocation::frontFacing ? AVCaptureDevicePosition::front
                                                                        : AVCaptureDevicePosition::back;
        NSError failure;
        cameraDevice = AVCaptureDevice::defaultDevice(position, &failure);
        if (!cameraDevice) {
            if (failure.localizedDescription().empty())
                failure = NSError("AVFoundationErrorDomain", -11814, "no capture device is available");
            if (error)
                *error = failure;
            return nullptr;
        }
    }
    auto camera = std::make_shared<Camera>(std::move(cameraDevice));
    std::lock_guard lock(camera->impl_->mutex);
    camera->impl_->owner = camera;
    return camera;
}

Camera::Camera(std::shared_ptr<AVCaptureDevice> device)
    : impl_(std::make_shared<Impl>()), inputCamera_(std::move(device)) {}

Camera::~Camera() {
    if (impl_->everStarted.load())
        stopCapture();
}

void Camera::setDelegate(std::weak_ptr<CameraDelegate> delegate) {
    std::lock_guard lock(impl_->mutex);
    impl_->delegate = std::move(delegate);
}

void Camera::startCapture() {
    {
        // A camera made with its constructor rather than make() learns its owner here.
        std::lock_guard lock(impl_->mutex);
        if (impl_->owner.expired())
            impl_->owner = std::dynamic_pointer_cast<Camera>(weak_from_this().lock());
    }
    if (!inputCamera_)
        return;
    impl_->everStarted.store(true);
    impl_->capturing.store(true);
    if (inputCamera_->isStreaming())
        return;
    // The handler holds the capture state weakly: a device that outlives the camera
    // delivers into nothing.
    std::weak_ptr<Impl> weak = impl_;
    NSError error;
    bool started = inputCamera_->startStreaming(
        [weak](CMSampleBufferRef sample) {
            if (auto state = weak.lock())
                state->frameArrived(sample);
        },
        &error);
    if (!started)
        foundation::logError("camera: cannot start streaming: " + error.localizedDescription());
}

// The device's stopStreaming() does not wait for a delivery in progress (which may be
// waiting for this very thread), so neither does this; a frame that had begun finds the
// flag down and goes no further than its delegate call.
void Camera::stopCapture() {
    impl_->capturing.store(false);
    if (inputCamera_)
        inputCamera_->stopStreaming();
}

bool Camera::isCapturing() const {
    return impl_->capturing.load();
}

CameraStatistics Camera::statistics() const {
    return CameraStatistics{impl_->produced.load(), impl_->droppedGpuBusy.load(), impl_->processed.load()};
}
