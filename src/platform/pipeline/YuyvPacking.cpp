#include "pipeline/YuyvPacking.h"

#include "pipeline/OperationSupport.h"

namespace {
// Each texel reads its two pixels by index, so no filtering blurs a pair into its
// neighbours; the two share the mean of their chroma.
const char* const yuyvPackingFragmentShader = R"(#version 300 es
precision highp float;
uniform sampler2D inputImageTexture;
out vec4 fragColor;
const vec3 lumaWeights = vec3(65.481, 128.553, 24.966);
const vec3 blueWeights = vec3(-37.797, -74.203, 112.0);
const vec3 redWeights = vec3(112.0, -93.786, -18.214);
void main() {
    ivec2 pair = ivec2(gl_FragCoord.xy);
    vec3 left = texelFetch(inputImageTexture, ivec2(pair.x * 2, pair.y), 0).rgb;
    vec3 right = texelFetch(inputImageTexture, ivec2(pair.x * 2 + 1, pair.y), 0).rgb;
    vec3 mean = (left + right) * 0.5;
    fragColor = vec4(16.0 + dot(left, lumaWeights), 128.0 + dot(mean, blueWeights),
                     16.0 + dot(right, lumaWeights), 128.0 + dot(mean, redWeights)) / 255.0;
}
)";
} // namespace

FramebufferRef packYuyv(const Framebuffer& picture) {
    if (picture.width() < 2)
        return nullptr;
    return pipeline::drawPass(yuyvPackingFragmentShader, {&picture}, picture.width() / 2, picture.height());
}
