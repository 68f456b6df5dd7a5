#include "pipeline/OperationSupport.h"
#include "pipeline/Operations.h"

namespace {
const char* const luminanceFragmentShader = R"(#version 300 es
precision highp float;
in vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
out vec4 fragColor;
const vec3 luminanceWeights = )" FERNHOLD_LUMINANCE_WEIGHTS R"(;
void main() {
    float luminance = dot(texture(inputImageTexture, textureCoordinate).rgb, luminanceWeights);
    fragColor = vec4(vec3(luminance), 1.0);
}
)";
} // namespace

Luminance::Luminance() : BasicOperation(1) {}

FramebufferRef Luminance::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& input = *inputs[0];
    return pipeline::drawPass(luminanceFragmentShader, {&input}, input.width(), input.height());
}
