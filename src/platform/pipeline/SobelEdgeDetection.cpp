#include "pipeline/OperationSupport.h"
#include "pipeline/Operations.h"

namespace {
// The 3x3 Sobel gradient of the luminance, its length scaled by edgeStrength as grey. A
// sharp black-to-white step reads 4 before clamping, so any clear edge shows white.
// Neighbours are fetched by integer texel, clamped at the border (the border's own
// pixel stands in for the missing ones, so the border of a flat image stays flat).
const char* const sobelFragmentShader = R"(#version 300 es
precision highp float;
uniform sampler2D inputImageTexture;
uniform float edgeStrength;
out vec4 fragColor;
const vec3 luminanceWeights = )" FERNHOLD_LUMINANCE_WEIGHTS R"(;
float luminanceAt(ivec2 position, ivec2 last) {
    return dot(texelFetch(inputImageTexture, clamp(position, ivec2(0), last), 0).rgb, luminanceWeights);
}
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    ivec2 last = textureSize(inputImageTexture, 0) - 1;
    float topLeft = luminanceAt(p + ivec2(-1, -1), last);
    float top = luminanceAt(p + ivec2(0, -1), last);
    float topRight = luminanceAt(p + ivec2(1, -1), last);
    float left = luminanceAt(p + ivec2(-1, 0), last);
    float right = luminanceAt(p + ivec2(1, 0), last);
    float bottomLeft = luminanceAt(p + ivec2(-1, 1), last);
    float bottom = luminanceAt(p + ivec2(0, 1), last);
    float bottomRight = luminanceAt(p + ivec2(1, 1), last);
    float gx = (topRight + 2.0 * right + bottomRight) - (topLeft + 2.0 * left + bottomLeft);
    float gy = (bottomLeft + 2.0 * bottom + bottomRight) - (topLeft + 2.0 * top + topRight);
    float magnitude = clamp(edgeStrength * length(vec2(gx, gy)), 0.0, 1.0);
    fragColor = vec4(vec3(magnitude), 1.0);
}
)";
} // namespace

SobelEdgeDetection::SobelEdgeDetection() : BasicOperation(1) {}

FramebufferRef SobelEdgeDetection::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& input = *inputs[0];
    float strength = edgeStrength;
    return pipeline::drawPass(sobelFragmentShader, {&input}, input.width(), input.height(),
                              [&](ShaderProgram& program) { program.setFloat("edgeStrength", strength); });
}
