#pragma once
// What the operations share: the full-frame vertex shader and drawing one pass.
#include <functional>
#include <vector>

#include "pipeline/Framebuffer.h"
#include "pipeline/ShaderProgram.h"

namespace pipeline {

// One triangle over the whole viewport with texture coordinates equal to the normalised
// window position, so output pixel (x, y) reads input texel (x, y): an image in memory
// order comes out in memory order.
extern const char* const fullFrameVertexShader;

// The luminance weights every operation uses (Rec. 709).
#define FERNHOLD_LUMINANCE_WEIGHTS "vec3(0.2125, 0.7154, 0.0721)"

// GPU queue only: draws `fragmentShader` over a new width x height framebuffer, with
// `inputs` bound as inputImageTexture, inputImageTexture2, ... and `setUniforms` setting
// the rest. Null when the program does not build (already logged).
FramebufferRef drawPass(const char* fragmentShader, const std::vector<const Framebuffer*>& inputs, int width,
                        int height, const std::function<void(ShaderProgram&)>& setUniforms = {},
                        Framebuffer::Format format = Framebuffer::Format::rgba8);

} // namespace pipeline
