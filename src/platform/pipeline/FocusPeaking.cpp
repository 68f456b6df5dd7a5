#include "pipeline/AssistOperations.h"
#include "pipeline/OperationSupport.h"

namespace {
// Across and down separately: the steepest step next to the pixel against the span of
// the nine pixels centred on it. Neighbours are fetched by integer texel, clamped at the
// border.
const char* const peakingFragmentShader = R"(#version 300 es
precision highp float;
uniform sampler2D inputImageTexture;
uniform float sharpness;
uniform float minimumStep;
uniform vec4 markColor;
out vec4 fragColor;
const vec3 luminanceWeights = )" FERNHOLD_LUMINANCE_WEIGHTS R"(;
ivec2 last;
float luminanceAt(ivec2 position) {
    return dot(texelFetch(inputImageTexture, clamp(position, ivec2(0), last), 0).rgb, luminanceWeights);
}
// The span is looked at only where a step is steep enough: most of a picture is not, and
// there five fetches decide.
bool sharpAlong(ivec2 p, ivec2 direction, float centre) {
    float before = luminanceAt(p - direction), after = luminanceAt(p + direction);
    float steepest = max(abs(after - centre), abs(centre - before));
    if (steepest < minimumStep)
        return false;
    float low = min(centre, min(before, after)), high = max(centre, max(before, after));
    for (int i = 2; i <= 4; ++i) {
        float a = luminanceAt(p - i * direction), b = luminanceAt(p + i * direction);
        low = min(low, min(a, b));
        high = max(high, max(a, b));
    }
    return steepest >= sharpness * (high - low);
}
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    last = textureSize(inputImageTexture, 0) - 1;
    vec4 colour = texelFetch(inputImageTexture, p, 0);
    float centre = dot(colour.rgb, luminanceWeights);
    bool sharp = sharpAlong(p, ivec2(1, 0), centre) || sharpAlong(p, ivec2(0, 1), centre);
    fragColor = sharp ? markColor : colour;
}
)";
} // namespace

FocusPeaking::FocusPeaking() : BasicOperation(1) {}

FramebufferRef FocusPeaking::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& input = *inputs[0];
    const float fraction = sharpness, step = minimumStep;
    const Color mark = color;
    return pipeline::drawPass(peakingFragmentShader, {&input}, input.width(), input.height(),
                              [&](ShaderProgram& program) {
                                  program.setFloat("sharpness", fraction);
                                  program.setFloat("minimumStep", step);
                                  program.setVec4("markColor", mark.red, mark.green, mark.blue, mark.alpha);
                              });
}
