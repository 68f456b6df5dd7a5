#include "pipeline/OperationSupport.h"
#include "pipeline/Operations.h"

namespace {
// 1 - x on each colour channel: exact in 8 bits, since (255 - k) / 255 converts back to
// 255 - k.
const char* const colorInversionFragmentShader = R"(#version 300 es
precision highp float;
in vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
out vec4 fragColor;
void main() {
    vec4 color = texture(inputImageTexture, textureCoordinate);
    fragColor = vec4(1.0 - color.rgb, color.a);
}
)";
} // namespace

ColorInversion::ColorInversion() : BasicOperation(1) {}

FramebufferRef ColorInversion::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& input = *inputs[0];
    return pipeline::drawPass(colorInversionFragmentShader, {&input}, input.width(), input.height());
}
