#include <GLES3/gl3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "pipeline/Framebuffer.h"
#include "pipeline/GPUContext.h"
#include "pipeline/Operations.h"
#include "pipeline/ShaderProgram.h"

namespace {
const char* const lineVertexShader = R"(#version 300 es
layout(location = 0) in vec2 position;
void main() {
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

const char* const lineFragmentShader = R"(#version 300 es
precision highp float;
uniform vec4 lineColor;
out vec4 fragColor;
void main() {
    fragColor = lineColor;
}
)";

// Two triangles per segment, in clip space. A coordinate names a pixel: x' = x * 2 / width
// - 1 is column x, whose centre is half a pixel further on, so the quad is built around
// centres. With square ends half the width long, a segment between pixels (x0, y) and
// (x1, y) of width 3 covers exactly columns x0 - 1 ... x1 + 1 of rows y - 1 ... y + 1, and
// outlines close at their corners.
// Returns the pixels the quad may cover, a pixel wider on each side than its corners say,
// so that no rounding in the rasteriser reaches outside; nothing when a corner is not a
// number or out of range.
std::optional<Framebuffer::PixelRect> appendQuad(std::vector<float>& vertices, const Line& line, float width,
                                                 float height, float lineWidth) {
    auto toPixels = [&](const Position& p) {
        return std::array<float, 2>{(p.x + 1.0f) * 0.5f * width + 0.5f, (p.y + 1.0f) * 0.5f * height + 0.5f};
    };
    auto [x0, y0] = toPixels(line.start);
    auto [x1, y1] = toPixels(line.end);
    float dx = x1 - x0, dy = y1 - y0;
    float length = std::hypot(dx, dy);
    if (length > 0.0f) {
        dx /= length;
        dy /= length;
    } else {
        dx = 1.0f; // a point: a square of the line's width
        dy = 0.0f;
    }
    float half = lineWidth * 0.5f;
    float ax = x0 - dx * half, ay = y0 - dy * half; // start, pulled back by the end cap
    float bx = x1 + dx * half, by = y1 + dy * half; // end, pushed on
    float nx = -dy * half, ny = dx * half;
    const float corners[6][2] = {{ax + nx, ay + ny}, {ax - nx, ay - ny}, {bx + nx, by + ny},
                                 {ax - nx, ay - ny}, {bx - nx, by - ny}, {bx + nx, by + ny}};
    float left = corners[0][0], right = left, bottom = corners[0][1], top = bottom;
    for (const auto& corner : corners) {
        vertices.push_back(corner[0] * 2.0f / width - 1.0f);
        vertices.push_back(corner[1] * 2.0f / height - 1.0f);
        left = std::min(left, corner[0]), right = std::max(right, corner[0]);
        bottom = std::min(bottom, corner[1]), top = std::max(top, corner[1]);
    }
    // Window coordinates equal these pixel coordinates: a pixel is drawn when its centre,
    // half a pixel on from its number, lies inside.
    const float limit = 1.0e8f;
    if (!(std::abs(left) < limit && std::abs(right) < limit && std::abs(bottom) < limit &&
          std::abs(top) < limit))
        return std::nullopt;
    const auto clampTo = [](float v, float size) { return int(std::clamp(v, 0.0f, size)); };
    return Framebuffer::PixelRect{
        clampTo(std::floor(left) - 1.0f, width), clampTo(std::floor(bottom) - 1.0f, height),
        clampTo(std::ceil(right) + 1.0f, width), clampTo(std::ceil(top) + 1.0f, height)};
}

Color clamped(Color color) {
    auto unit = [](float v) { return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f); };
    return {unit(color.red), unit(color.green), unit(color.blue), unit(color.alpha)};
}
} // namespace

struct LineGenerator::Impl {
    mutable std::mutex mutex;
    float lineWidth = 1.0f;
    Color color{0.0f, 1.0f, 0.0f, 1.0f};
    std::vector<Line> lines;

    // GPU queue only.
    FramebufferRef current;

    FramebufferRef draw(const std::vector<Line>& segments, float width, Color lineColor, Size size) {
        int w = std::max(1, int(std::lround(size.width))), h = std::max(1, int(std::lround(size.height)));
        FramebufferRef output = Framebuffer::make(w, h);
        output->activate();
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        output->setDrawnRegions(std::vector<Framebuffer::PixelRect>{});
        auto program = GPUContext::shared().program(lineVertexShader, lineFragmentShader);
        if (segments.empty() || !program)
            return output;

        std::vector<float> vertices;
        vertices.reserve(segments.size() * 12);
        std::optional<std::vector<Framebuffer::PixelRect>> regions(std::in_place);
        regions->reserve(segments.size());
        for (const Line& line : segments) {
            const auto region = appendQuad(vertices, line, float(w), float(h), width);
            if (region && regions)
                regions->push_back(*region);
            else
                regions.reset(); // a line the rectangles cannot bound: it may be anywhere
        }
        output->setDrawnRegions(std::move(regions));
        GPUContext::shared().bindPositions(vertices);
        program->use();
        program->setVec4("lineColor", lineColor.red, lineColor.green, lineColor.blue, lineColor.alpha);
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(vertices.size() / 2));
        checkGLError("LineGenerator");
        return output;
    }
};

LineGenerator::LineGenerator(Size size_) : size(size_), impl_(std::make_shared<Impl>()) {}

LineGenerator::~LineGenerator() = default;

void LineGenerator::setLineWidth(float width) {
    std::lock_guard lock(impl_->mutex);
    impl_->lineWidth = std::isfinite(width) ? std::max(width, 0.0f) : 1.0f;
}

float LineGenerator::lineWidth() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->lineWidth;
}

void LineGenerator::setLineColor(Color color) {
    std::lock_guard lock(impl_->mutex);
    impl_->color = clamped(color);
}

Color LineGenerator::lineColor() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->color;
}

std::vector<Line> LineGenerator::lastLines() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->lines;
}

void LineGenerator::renderLines(const std::vector<Line>& lines) {
    float width;
    Color color;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->lines = lines;
        width = impl_->lineWidth;
        color = impl_->color;
    }
    // The GPU queue is serial: a camera frame handed over after this call is drawn with
    // these lines.
    GPUContext::shared().runAsync([weak = weak_from_this(), impl = impl_, lines, width, color, size = size] {
        FramebufferRef output = impl->draw(lines, width, color, size);
        impl->current = output;
        if (auto self = std::dynamic_pointer_cast<LineGenerator>(weak.lock()))
            self->updateTargetsWithFramebuffer(output);
    });
}

void LineGenerator::targetAdded(const std::shared_ptr<ImageConsumer>& consumer, unsigned index) {
    GPUContext::shared().runAsync(
        [weak = weak_from_this(), impl = impl_, target = std::weak_ptr(consumer), index] {
            auto self = std::dynamic_pointer_cast<LineGenerator>(weak.lock());
            if (self && impl->current)
                self->deliver(target.lock(), impl->current, index);
        });
}
