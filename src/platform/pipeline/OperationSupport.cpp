#include "pipeline/OperationSupport.h"

#include <GLES3/gl3.h>

#include <string>

#include "pipeline/GPUContext.h"

namespace pipeline {

const char* const fullFrameVertexShader = R"(#version 300 es
out vec2 textureCoordinate;
void main() {
    // Vertices 0, 1, 2 at (-1, -1), (3, -1), (-1, 3): one triangle covering the viewport.
    vec2 position = vec2(float((gl_VertexID & 1) << 2) - 1.0, float((gl_VertexID & 2) << 1) - 1.0);
    textureCoordinate = position * 0.5 + 0.5;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

namespace {
// Vertices in clip space; texture coordinates follow from them as the full-frame shader's do.
const char* const regionVertexShader = R"(#version 300 es
layout(location = 0) in vec2 position;
out vec2 textureCoordinate;
void main() {
    textureCoordinate = position * 0.5 + 0.5;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

void bindInputs(ShaderProgram& program, const std::vector<const Framebuffer*>& inputs,
                const std::function<void(ShaderProgram&)>& setUniforms) {
    program.use();
    for (size_t i = 0; i < inputs.size(); ++i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, inputs[i]->texture());
        program.setInt(i == 0 ? "inputImageTexture" : "inputImageTexture" + std::to_string(i + 1), int(i));
    }
    if (setUniforms)
        setUniforms(program);
}
} // namespace

FramebufferRef drawPass(const char* fragmentShader, const std::vector<const Framebuffer*>& inputs, int width,
                        int height, const std::function<void(ShaderProgram&)>& setUniforms,
                        Framebuffer::Format format) {
    GPUContext& context = GPUContext::shared();
    auto program = context.program(fullFrameVertexShader, fragmentShader);
    if (!program)
        return nullptr;
    FramebufferRef output = Framebuffer::make(width, height, format);
    output->activate();
    bindInputs(*program, inputs, setUniforms);
    glBindVertexArray(context.emptyVertexArray());
    glDrawArrays(GL_TRIANGLES, 0, 3);
    checkGLError("drawPass");
    return output;
}

FramebufferRef copyPicture(const Framebuffer& source) {
    FramebufferRef copy = Framebuffer::make(source.width(), source.height());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source.framebufferObject());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, copy->framebufferObject());
    glBlitFramebuffer(0, 0, source.width(), source.height(), 0, 0, source.width(), source.height(),
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    checkGLError("copyPicture");
    return copy;
}

bool drawPassOver(const char* fragmentShader, const std::vector<const Framebuffer*>& inputs,
                  const Framebuffer& output, const std::vector<Framebuffer::PixelRect>& regions,
                  const std::function<void(ShaderProgram&)>& setUniforms) {
    GPUContext& context = GPUContext::shared();
    auto program = context.program(regionVertexShader, fragmentShader);
    if (!program)
        return false;
    // Two triangles a rectangle; kept between draws (GPU queue only, and never destroyed, as
    // that queue is not), so a frame allocates nothing once it has seen as many rectangles.
    static auto& vertices = *new std::vector<float>;
    vertices.clear();
    const float w = float(output.width()), h = float(output.height());
    for (const Framebuffer::PixelRect& r : regions) {
        if (r.x0 >= r.x1 || r.y0 >= r.y1)
            continue;
        const float x0 = float(r.x0) * 2.0f / w - 1.0f, x1 = float(r.x1) * 2.0f / w - 1.0f;
        const float y0 = float(r.y0) * 2.0f / h - 1.0f, y1 = float(r.y1) * 2.0f / h - 1.0f;
        vertices.insert(vertices.end(), {x0, y0, x1, y0, x0, y1, x1, y0, x1, y1, x0, y1});
    }
    if (vertices.empty())
        return true;
    output.activate();
    bindInputs(*program, inputs, setUniforms);
    context.bindPositions(vertices);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(vertices.size() / 2));
    return checkGLError("drawPassOver");
}

} // namespace pipeline
