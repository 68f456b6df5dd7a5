#include "host/screen/ImGuiImplGLES3.h"

#include <GLES3/gl3.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/screen/ScreenTexture.h"
#include "pipeline/ShaderProgram.h"

namespace {

constexpr const char* vertexSource = R"(#version 300 es
uniform mat4 projection;
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 uv;
layout(location = 2) in vec4 color;
out vec2 fragmentUV;
out vec4 fragmentColor;
void main() {
    fragmentUV = uv;
    fragmentColor = color;
    gl_Position = projection * vec4(position, 0.0, 1.0);
})";

constexpr const char* fragmentSource = R"(#version 300 es
precision mediump float;
uniform sampler2D image;
in vec2 fragmentUV;
in vec4 fragmentColor;
out vec4 outColor;
void main() {
    outColor = fragmentColor * texture(image, fragmentUV);
})";

struct BackendData {
    GLuint program = 0, vertexArray = 0, vertexBuffer = 0, indexBuffer = 0, fontTexture = 0;
    // Every picture on screen is scaled smoothly, whatever its texture's own filtering: the
    // pipeline's textures, drawn here where they are, filter to the nearest texel.
    GLuint smoothSampler = 0;
    GLint projection = -1, sampler = -1;
    std::string failure;
};

BackendData* backendData() {
    return ImGui::GetCurrentContext() ? static_cast<BackendData*>(ImGui::GetIO().BackendRendererUserData)
                                      : nullptr;
}

void createFontTexture(BackendData& bd) {
    ImGuiIO& io = ImGui::GetIO();
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    bd.fontTexture = host::makeScreenTexture(width, height, pixels);
    io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(bd.fontTexture)));
    io.Fonts->ClearTexData();
}

void setUpState(BackendData& bd, ImDrawData& data, int width, int height, float originX, float originY) {
    glViewport(0, 0, width, height);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_SCISSOR_TEST);
    glUseProgram(bd.program);
    glUniform1i(bd.sampler, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, bd.smoothSampler);
    // Display points to clip space: scaled, placed at the origin, y downwards.
    const float sx = 2 * data.FramebufferScale.x / width, sy = -2 * data.FramebufferScale.y / height;
    const float tx = 2 * (originX - data.DisplayPos.x * data.FramebufferScale.x) / width - 1;
    const float ty = 1 - 2 * (originY - data.DisplayPos.y * data.FramebufferScale.y) / height;
    const float projection[16] = {sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, -1, 0, tx, ty, 0, 1};
    glUniformMatrix4fv(bd.projection, 1, GL_FALSE, projection);
    glBindVertexArray(bd.vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, bd.vertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, bd.indexBuffer);
}

} // namespace

bool ImGui_ImplGLES3_Init(const char** failure) {
    ImGuiIO& io = ImGui::GetIO();
    auto* bd = new BackendData();
    io.BackendRendererUserData = bd;
    io.BackendRendererName = "fernhold_gles3";

    bd->program = linkShaderProgram(vertexSource, fragmentSource, bd->failure);
    if (!bd->program) {
        bd->failure = "the screen's shaders do not build: " + bd->failure;
        if (failure)
            *failure = bd->failure.c_str();
        return false;
    }
    bd->projection = glGetUniformLocation(bd->program, "projection");
    bd->sampler = glGetUniformLocation(bd->program, "image");
    glGenSamplers(1, &bd->smoothSampler);
    glSamplerParameteri(bd->smoothSampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(bd->smoothSampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(bd->smoothSampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(bd->smoothSampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glGenVertexArrays(1, &bd->vertexArray);
    glGenBuffers(1, &bd->vertexBuffer);
    glGenBuffers(1, &bd->indexBuffer);
    glBindVertexArray(bd->vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, bd->vertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, bd->indexBuffer);
    for (GLuint attribute : {0u, 1u, 2u})
        glEnableVertexAttribArray(attribute);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(ImDrawVert),
                          reinterpret_cast<const void*>(offsetof(ImDrawVert, pos)));
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(ImDrawVert),
                          reinterpret_cast<const void*>(offsetof(ImDrawVert, uv)));
    glVertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(ImDrawVert),
                          reinterpret_cast<const void*>(offsetof(ImDrawVert, col)));
    glBindVertexArray(0);
    if (glGetError() != GL_NO_ERROR) {
        bd->failure = "the screen's GL objects could not be made";
        if (failure)
            *failure = bd->failure.c_str();
        return false;
    }
    return true;
}

void ImGui_ImplGLES3_Shutdown() {
    BackendData* bd = backendData();
    if (!bd)
        return;
    // The context may already be gone at exit; deleting names of a dead context is harmless.
    glDeleteTextures(1, &bd->fontTexture);
    const GLuint buffers[] = {bd->vertexBuffer, bd->indexBuffer};
    glDeleteBuffers(2, buffers);
    glDeleteVertexArrays(1, &bd->vertexArray);
    glDeleteSamplers(1, &bd->smoothSampler);
    glDeleteProgram(bd->program);
    ImGuiIO& io = ImGui::GetIO();
    io.BackendRendererUserData = nullptr;
    io.BackendRendererName = nullptr;
    delete bd;
}

void ImGui_ImplGLES3_NewFrame() {
    BackendData* bd = backendData();
    if (bd && !bd->fontTexture)
        createFontTexture(*bd);
}

void ImGui_ImplGLES3_RenderDrawData(ImDrawData* data, int width, int height, float originX, float originY) {
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    BackendData* bd = backendData();
    if (!data || !bd || width <= 0 || height <= 0)
        return;
    setUpState(*bd, *data, width, height, originX, originY);
    const ImVec2 scale = data->FramebufferScale, display = data->DisplayPos;
    for (int n = 0; n < data->CmdListsCount; ++n) {
        const ImDrawList* list = data->CmdLists[n];
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(list->VtxBuffer.Size * sizeof(ImDrawVert)),
                     list->VtxBuffer.Data, GL_STREAM_DRAW);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                     static_cast<GLsizeiptr>(list->IdxBuffer.Size * sizeof(ImDrawIdx)), list->IdxBuffer.Data,
                     GL_STREAM_DRAW);
        for (const ImDrawCmd& command : list->CmdBuffer) {
            if (command.UserCallback || command.ElemCount == 0)
                continue;
            // The clip rectangle in surface pixels, y downwards, then as GL's scissor.
            const int left = std::max(
                0, static_cast<int>(std::floor(originX + (command.ClipRect.x - display.x) * scale.x)));
            const int right = std::min(
                width, static_cast<int>(std::ceil(originX + (command.ClipRect.z - display.x) * scale.x)));
            const int top = std::max(
                0, static_cast<int>(std::floor(originY + (command.ClipRect.y - display.y) * scale.y)));
            const int bottom = std::min(
                height, static_cast<int>(std::ceil(originY + (command.ClipRect.w - display.y) * scale.y)));
            if (right <= left || bottom <= top)
                continue;
            glScissor(left, height - bottom, right - left, bottom - top);
            glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(reinterpret_cast<intptr_t>(command.GetTexID())));
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(command.ElemCount),
                           sizeof(ImDrawIdx) == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT,
                           reinterpret_cast<const void*>(command.IdxOffset * sizeof(ImDrawIdx)));
        }
    }
    glBindVertexArray(0);
    glBindSampler(0, 0);
    glDisable(GL_SCISSOR_TEST);
}
