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

FramebufferRef drawPass(const char* fragmentShader, const std::vector<const Framebuffer*>& inputs, int width,
                        int height, const std::function<void(ShaderProgram&)>& setUniforms,
                        Framebuffer::Format format) {
    GPUContext& context = GPUContext::shared();
    auto program = context.program(fullFrameVertexShader, fragmentShader);
    if (!program)
        return nullptr;
    FramebufferRef output = Framebuffer::make(width, height, format);
    output->activate();
    program->use();
    for (size_t i = 0; i < inputs.size(); ++i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, inputs[i]->texture());
        program->setInt(i == 0 ? "inputImageTexture" : "inputImageTexture" + std::to_string(i + 1), int(i));
    }
    if (setUniforms)
        setUniforms(*program);
    glBindVertexArray(context.emptyVertexArray());
    glDrawArrays(GL_TRIANGLES, 0, 3);
    checkGLError("drawPass");
    return output;
}

} // namespace pipeline
