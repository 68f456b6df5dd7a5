#include "pipeline/AssistOperations.h"
#include "pipeline/OperationSupport.h"

namespace {
// The luminosity is taken from the 8-bit values the camera delivered (the texture's
// normalised values brought back to whole numbers), red and green added first, so the
// level compares like the luminosity meter's reading.
const char* const zebraFragmentShader = R"(#version 300 es
precision highp float;
precision highp int;
uniform sampler2D inputImageTexture;
uniform float level;
out vec4 fragColor;
const vec3 weights = )" FERNHOLD_LUMINANCE_WEIGHTS R"(;
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    vec4 colour = texelFetch(inputImageTexture, p, 0);
    vec3 rgb = floor(colour.rgb * 255.0 + 0.5);
    float luminosity = (weights.r * rgb.r + weights.g * rgb.g) + weights.b * rgb.b;
    bool stripe = ((p.x + p.y) / 4) % 2 == 0;
    fragColor = luminosity >= level && stripe ? vec4(0.0, 0.0, 0.0, 1.0) : colour;
}
)";
} // namespace

ZebraStripes::ZebraStripes() : BasicOperation(1) {}

FramebufferRef ZebraStripes::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& input = *inputs[0];
    const float threshold = level;
    return pipeline::drawPass(zebraFragmentShader, {&input}, input.width(), input.height(),
                              [&](ShaderProgram& program) { program.setFloat("level", threshold); });
}
