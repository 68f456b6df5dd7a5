#pragma once
// What the operations share: the full-frame vertex shader, drawing one pass over all of a
// framebuffer or parts of it, and copying a picture.
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

// GPU queue only, rgba8 only: a new framebuffer holding a copy of `source`, made by a blit,
// which a driver does as a plain copy rather than by running a shader over every pixel.
FramebufferRef copyPicture(const Framebuffer& source);

// GPU queue only: draws `fragmentShader` as drawPass does (the same inputs, uniforms and
// texture coordinates at each pixel), but into `output`, over `regions` of it alone; the
// rest of `output` keeps what it holds. Rectangles may overlap.
bool drawPassOver(const char* fragmentShader, const std::vector<const Framebuffer*>& inputs,
                  const Framebuffer& output, const std::vector<Framebuffer::PixelRect>& regions,
                  const std::function<void(ShaderProgram&)>& setUniforms = {});

} // namespace pipeline
