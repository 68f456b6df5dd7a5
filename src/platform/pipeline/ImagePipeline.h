#pragma once
// The image pipeline framework: sources feed consumers, operations transform, a render
// view displays. All GL work of the graph runs on one GPU queue that owns the
// processing context (see GPUContext.h).
//
// Connections: addTarget() without an index connects the source to the consumer's lowest
// free input; connecting a source that already feeds that consumer moves it, so there are
// never duplicate inputs. A consumer holds its sources strongly (a connected consumer
// keeps its source alive); a source holds its targets weakly. Connecting and
// disconnecting is safe from the main thread while frames flow.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct Size {
    float width = 0, height = 0;
};

// The size of the camera picture, and so of every framebuffer the graph makes from it and
// of the images drawn over it. The program sets it once, before the screen and its camera
// are made; 640 × 480 unless it does. Any thread.
Size sharedFramebufferSize();
void setSharedFramebufferSize(Size size);

struct Color {
    float red = 0, green = 0, blue = 0, alpha = 1;
    static Color black() { return {0, 0, 0, 1}; }
    static Color white() { return {1, 1, 1, 1}; }
};

struct Position {
    Position(float x_, float y_, std::optional<float> z_ = std::nullopt) : x(x_), y(y_), z(z_) {}
    float x, y;
    std::optional<float> z;
    friend bool operator==(const Position&, const Position&) = default;
};

// A line segment between two positions in the generator's normalised space.
struct Line {
    static Line segment(Position p1, Position p2) { return Line{p1, p2}; }
    Position start, end;
    friend bool operator==(const Line&, const Line&) = default;
};

class Framebuffer; // a GPU texture with its size; defined in Framebuffer.h
using FramebufferRef = std::shared_ptr<Framebuffer>;

class ImageSource;

// The common base of everything in a graph; operations are both sources and consumers.
class PipelineNode : public std::enable_shared_from_this<PipelineNode> {
  public:
    virtual ~PipelineNode() = default;
};

class ImageConsumer : public virtual PipelineNode {
  public:
    virtual unsigned maximumInputs() const = 0;
    // On the GPU queue: a new image at input `index`.
    virtual void newFramebufferAvailable(const FramebufferRef& framebuffer, unsigned index) = 0;

    // The sources connected to each input (strong), for inspection and tests.
    std::vector<std::shared_ptr<ImageSource>> sources() const;
    // Disconnects every input.
    void removeAllSources();

  protected:
    // Called when input `index` loses its source (on the thread that disconnects).
    virtual void sourceRemoved(unsigned /*index*/) {}
    // Whether the last reference, when a delivery happens to hold it, must be dropped on
    // the main thread (views may be destroyed there only).
    virtual bool releasedOnMainThread() const { return false; }

  private:
    friend class ImageSource;
    bool isSourceAt(const ImageSource* source, unsigned index) const;
    mutable std::mutex sourcesMutex_;
    std::vector<std::shared_ptr<ImageSource>> sources_; // index -> source (null = free)
    // Held while an image is handed to this consumer and while its inputs change, so a
    // source that has just been disconnected can never deliver afterwards. Recursive: a
    // consumer may disconnect itself from inside a delivery (a frame observer, say).
    std::recursive_mutex deliveryMutex_;
};

class ImageSource : public virtual PipelineNode {
  public:
    // Connects to `consumer` at `atTargetIndex`, or at its lowest free input. Returns the
    // input index used, or nothing when the consumer has no free input.
    std::optional<unsigned> addTarget(const std::shared_ptr<ImageConsumer>& consumer,
                                      std::optional<unsigned> atTargetIndex = std::nullopt);
    // After this the source feeds nothing.
    void removeAllTargets();
    size_t targetCount() const;

  protected:
    // On the GPU queue: hands `framebuffer` to every live target at its input index.
    void updateTargetsWithFramebuffer(const FramebufferRef& framebuffer);
    // On the GPU queue: hands `framebuffer` to one consumer, when this source still feeds
    // it at `index`.
    void deliver(std::shared_ptr<ImageConsumer> consumer, const FramebufferRef& framebuffer, unsigned index);
    // After a connection is made, on the connecting thread (a source that keeps an image,
    // such as the line generator, sends it to the new target).
    virtual void targetAdded(const std::shared_ptr<ImageConsumer>& /*consumer*/, unsigned /*index*/) {}

  private:
    friend class ImageConsumer;
    void removeTarget(const ImageConsumer* consumer, unsigned index);
    struct Target {
        std::weak_ptr<ImageConsumer> consumer;
        unsigned index;
    };
    mutable std::mutex targetsMutex_;
    std::vector<Target> targets_;
};

// The framework's `-->`: connects and returns the consumer, so chains read left to right.
template <typename Consumer>
std::shared_ptr<Consumer> operator>>(const std::shared_ptr<ImageSource>& source,
                                     const std::shared_ptr<Consumer>& consumer) {
    source->addTarget(consumer);
    return consumer;
}
