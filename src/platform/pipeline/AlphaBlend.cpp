#include <algorithm>
#include <cstdint>

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

// The overlay's drawn regions in the base's pixels. Nearest sampling at a base pixel's centre
// reads overlay texel floor((x + 0.5) * overlayWidth / baseWidth); a pixel more on each side
// keeps rounding on the safe side. False when the regions would cover so much of the picture
// that one pass over all of it costs less.
bool regionsOnBase(const std::vector<Framebuffer::PixelRect>& overlayRegions, const Framebuffer& overlay,
                   const Framebuffer& base, std::vector<Framebuffer::PixelRect>& out) {
    out.clear();
    const int64_t W = base.width(), H = base.height(), ow = overlay.width(), oh = overlay.height();
    int64_t area = 0;
    for (const Framebuffer::PixelRect& r : overlayRegions) {
        const Framebuffer::PixelRect mapped{int(std::max<int64_t>(0, r.x0 * W / ow - 1)),
                                            int(std::max<int64_t>(0, r.y0 * H / oh - 1)),
                                            int(std::min<int64_t>(W, (r.x1 * W + ow - 1) / ow + 1)),
                                            int(std::min<int64_t>(H, (r.y1 * H + oh - 1) / oh + 1))};
        if (mapped.x0 >= mapped.x1 || mapped.y0 >= mapped.y1)
            continue;
        area += int64_t(mapped.x1 - mapped.x0) * (mapped.y1 - mapped.y0);
        if (area * 2 > W * H)
            return false;
        out.push_back(mapped);
    }
    return true;
}
} // namespace

AlphaBlend::AlphaBlend() : BasicOperation(2) {}

// Lines over the picture touch a few of its pixels: where the overlay says which, the
// picture is copied and the blend drawn over those alone, which gives the same pixels as
// blending everywhere (elsewhere the overlay is transparent, and the mix keeps the base).
// Until the overlay's source delivers, and while it has nothing drawn, the base passes on
// as it is.
FramebufferRef AlphaBlend::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& base = *inputs[0];
    const Framebuffer* overlay = inputs[1].get();
    const std::vector<Framebuffer::PixelRect>* drawn = overlay ? overlay->drawnRegions() : nullptr;
    if (!overlay || (drawn && drawn->empty()))
        return inputs[0];
    float factor = mix;
    const auto setFactor = [&](ShaderProgram& program) { program.setFloat("mixturePercent", factor); };
    // GPU queue only, and never destroyed, as that queue is not.
    static auto& regions = *new std::vector<Framebuffer::PixelRect>;
    if (drawn && regionsOnBase(*drawn, *overlay, base, regions)) {
        FramebufferRef output = pipeline::copyPicture(base);
        if (pipeline::drawPassOver(alphaBlendFragmentShader, {&base, overlay}, *output, regions, setFactor))
            return output;
    }
    return pipeline::drawPass(alphaBlendFragmentShader, {&base, overlay}, base.width(), base.height(),
                              setFactor);
}
