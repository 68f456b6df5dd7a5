#include "pipeline/OperationSupport.h"
#include "pipeline/Operations.h"

namespace {
// Dark pixels take firstColor, bright ones secondColor, linearly in luminance between.
const char* const falseColorFragmentShader = R"(#version 300 es
precision highp float;
in vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform vec4 firstColor;
uniform vec4 secondColor;
out vec4 fragColor;
const vec3 luminanceWeights = )" FERNHOLD_LUMINANCE_WEIGHTS R"(;
void main() {
    vec4 color = texture(inputImageTexture, textureCoordinate);
    float luminance = dot(color.rgb, luminanceWeights);
    fragColor = vec4(mix(firstColor.rgb, secondColor.rgb, luminance), color.a);
}
)";
} // namespace

FalseColor::FalseColor() : BasicOperation(1) {}

FramebufferRef FalseColor::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& input = *inputs[0];
    Color first = firstColor, second = secondColor;
    return pipeline::drawPass(
        falseColorFragmentShader, {&input}, input.width(), input.height(), [&](ShaderProgram& program) {
            program.setVec4("firstColor", first.red, first.green, first.blue, first.alpha);
            program.setVec4("secondColor", second.red, second.green, second.blue, second.alpha);
        });
}
