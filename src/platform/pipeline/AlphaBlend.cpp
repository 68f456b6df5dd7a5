#include "pipeline/OperationSupport.h"
#include "pipeline/Operations.h"

namespace {
// mix(base, overlay, overlay.a * mixturePercent) keeps the base's alpha. At a factor of
// exactly 1, mix returns the overlay colour exactly, so an opaque yellow line stays
// (255, 255, 0). The overlay is sampled in normalised coordinates, so a line image of
// another size still lands on the same part of the picture.
const char* const alphaBlendFragmentShader = R"(#version 300 es
precision highp float;
in vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform float mixturePercent;
out vec4 fragColor;
void main() {
    vec4 base = texture(inputImageTexture, textureCoordinate);
    vec4 overlay = texture(inputImageTexture2, textureCoordinate);
    fragColor = vec4(mix(base.rgb, overlay.rgb, overlay.a * mixturePercent), base.a);
}
)";

// Until the overlay's source delivers, the base passes through unchanged.
const char* const passthroughFragmentShader = R"(#version 300 es
precision highp float;
in vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
out vec4 fragColor;
void main() {
    fragColor = texture(inputImageTexture, textureCoordinate);
}
)";
} // namespace

AlphaBlend::AlphaBlend() : BasicOperation(2) {}

FramebufferRef AlphaBlend::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& base = *inputs[0];
    if (!inputs[1])
        return pipeline::drawPass(passthroughFragmentShader, {&base}, base.width(), base.height());
    float factor = mix;
    return pipeline::drawPass(alphaBlendFragmentShader, {&base, inputs[1].get()}, base.width(), base.height(),
                              [&](ShaderProgram& program) { program.setFloat("mixturePercent", factor); });
}
