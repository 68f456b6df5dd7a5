#pragma once
// The processing graph's nodes: the camera source, the filter operations, the blend, the
// line generator and the render view.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/AVCaptureDevice.h"
#include "foundation/NSError.h"
#include "media/CMSampleBuffer.h"
#include "pipeline/FrameSink.h"
#include "pipeline/ImagePipeline.h"
#include "ui/UIView.h"

// ---- Camera -------------------------------------------------------------------------

enum class PhysicalCameraLocation : int { backFacing = 0, frontFacing = 1 };
enum class ImageOrientation : int {
    portrait = 0,
    portraitUpsideDown = 1,
    landscapeLeft = 2,
    landscapeRight = 3
};

class CameraDelegate {
  public:
    virtual ~CameraDelegate() = default;
    // On the camera's capture thread, once per captured frame, before the frame is
    // handed to the GPU.
    virtual void didCaptureBuffer(const CMSampleBufferRef& sampleBuffer) = 0;
};

// Frame statistics of a camera, all counts since creation.
struct CameraStatistics {
    uint64_t produced = 0;       // frames the device delivered while capturing
    uint64_t droppedGpuBusy = 0; // not handed to the GPU: the previous frame was still in flight
    uint64_t processed = 0;      // handed to the GPU graph
};

class Camera : public ImageSource {
  public:
    // Opens `cameraDevice`, or the default device for `location` when it is null.
    // Returns null and fills `error` when no device can be opened. Every device delivers
    // RGBA at its active format's size, with row 0 the top of the picture whatever the
    // orientation, so the preset, the orientation and the YUV request change nothing.
    static std::shared_ptr<Camera> make(const AVCaptureSessionPreset& sessionPreset,
                                        std::shared_ptr<AVCaptureDevice> cameraDevice,
                                        PhysicalCameraLocation location,
                                        std::optional<ImageOrientation> orientation, bool captureAsYUV,
                                        NSError* error);
    ~Camera() override;

    const std::shared_ptr<AVCaptureDevice>& inputCamera() const { return inputCamera_; }

    void setDelegate(std::weak_ptr<CameraDelegate> delegate);

    // Starts frames flowing (also when already running). stopCapture() only signals: it
    // never waits for a frame in progress, which may itself be waiting on the main queue.
    void startCapture();
    void stopCapture();
    bool isCapturing() const;

    CameraStatistics statistics() const;

    explicit Camera(std::shared_ptr<AVCaptureDevice> device);

  private:
    // The capture thread's state, shared with the frame handler and the GPU work so
    // neither keeps the camera itself alive.
    struct Impl;
    std::shared_ptr<Impl> impl_;
    std::shared_ptr<AVCaptureDevice> inputCamera_;
};

// ---- Operations ---------------------------------------------------------------------

// A GPU operation: N inputs, one output, a fragment shader. Renders when its first input
// receives a new image, using the latest image of the other inputs.
class BasicOperation : public ImageSource, public ImageConsumer {
  public:
    ~BasicOperation() override;
    unsigned maximumInputs() const override { return inputs_; }
    void newFramebufferAvailable(const FramebufferRef& framebuffer, unsigned index) override;

  protected:
    BasicOperation(unsigned inputs);
    // On the GPU queue: draws inputs into a new framebuffer and returns it.
    virtual FramebufferRef render(const std::vector<FramebufferRef>& inputs) = 0;
    void sourceRemoved(unsigned index) override;

  private:
    unsigned inputs_;
    std::mutex inputsMutex_;
    std::vector<FramebufferRef> latest_;
};

// Canny edges: luminance, Gaussian blur (sigma = blurRadiusInPixels / 3), gradient with
// direction, non-maximum suppression, hysteresis between lowerThreshold and upperThreshold.
class CannyEdgeDetection : public BasicOperation {
  public:
    CannyEdgeDetection();
    ~CannyEdgeDetection() override;
    // Thresholds are on the Sobel magnitude of the blurred luminance (a sharp
    // black-to-white step reads about 4).
    std::atomic<float> blurRadiusInPixels{2.0f};
    std::atomic<float> upperThreshold{0.4f};
    std::atomic<float> lowerThreshold{0.1f};

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};

// Sobel gradient magnitude as grey.
class SobelEdgeDetection : public BasicOperation {
  public:
    SobelEdgeDetection();
    std::atomic<float> edgeStrength{1.0f};

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};

class ColorInversion : public BasicOperation {
  public:
    ColorInversion();

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};

// Luminance mapped from firstColor (dark) to secondColor (bright). The colours are read on
// the GPU queue: set them before frames flow.
class FalseColor : public BasicOperation {
  public:
    FalseColor();
    Color firstColor{0.0f, 0.0f, 0.5f, 1.0f};
    Color secondColor{1.0f, 0.0f, 0.0f, 1.0f};

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};

// Grey from 0.2125 R + 0.7154 G + 0.0721 B.
class Luminance : public BasicOperation {
  public:
    Luminance();

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};

// Input 2 laid over input 1 by input 2's alpha, scaled by `mix`. The default mix (1.0)
// shows an opaque overlay pixel exactly.
class AlphaBlend : public BasicOperation {
  public:
    AlphaBlend();
    std::atomic<float> mix{1.0f};

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};

// ---- Line generator -----------------------------------------------------------------

// Draws line segments `lineWidth` pixels wide (as quads) into a transparent image of its
// size, in the normalised space where (-1, -1) is the first pixel of the first row in
// memory and (1, 1) the far corner. Each renderLines() replaces every earlier line; an
// empty list gives a transparent image. Callable from any thread.
class LineGenerator : public ImageSource {
  public:
    explicit LineGenerator(Size size);
    ~LineGenerator() override;
    const Size size;

    void setLineWidth(float width);
    float lineWidth() const;
    // Components are clamped into 0...1.
    void setLineColor(Color color);
    Color lineColor() const;

    void renderLines(const std::vector<Line>& lines);
    // The list given to the last renderLines() (for inspection).
    std::vector<Line> lastLines() const;

  protected:
    // A newly connected target gets the current lines at once, without waiting for the
    // next renderLines().
    void targetAdded(const std::shared_ptr<ImageConsumer>& consumer, unsigned index) override;

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// ---- Render view --------------------------------------------------------------------

// Shows the image at its one input: hands each frame to its sinks (see FrameSink.h) as a
// GPU picture, and reads the pixels back once per frame only when a sink asks for them.
class RenderView : public UIView, public ImageConsumer {
  public:
    RenderView();
    ~RenderView() override;
    unsigned maximumInputs() const override { return 1; }
    void newFramebufferAvailable(const FramebufferRef& framebuffer, unsigned index) override;

    // Frees the input, so the next graph can connect; the view keeps showing the last
    // frame until the new graph delivers.
    void reset();

    // Any thread. The view holds `sink` weakly: it stops getting frames when its owner drops
    // it, or when removed. It gets the frame shown now at once (on the GPU queue).
    void addSink(const std::shared_ptr<FrameSink>& sink);
    void removeSink(const FrameSink* sink);
    // Any thread: a sink now wants pixels between frames (a photo was asked for). The frame
    // shown now is read back for it, without waiting for the next frame.
    void sinkNeedsChanged();

    // Any thread: the frame shown now (sequence 0 before the first).
    PresentedFrame presentedFrame() const;
    // Any thread: how many frames have been read back since the view was made.
    uint64_t readBackCount() const;

    const char* className() const override { return "RenderView"; }

  protected:
    bool releasedOnMainThread() const override { return true; }

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};
