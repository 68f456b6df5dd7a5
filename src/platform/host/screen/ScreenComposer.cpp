#include "host/screen/ScreenComposer.h"

#include <GLES3/gl3.h>
#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <numbers>

#include "host/screen/AssistDrawing.h"
#include "pipeline/Operations.h"
#include "ui/UIControls.h"

namespace host {
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

// DejaVu Sans reads well at phone sizes; ImGui's built-in font is the fallback.
constexpr const char* fontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr float atlasFontPixels = 30;
constexpr float labelPoints = 15, titlePoints = 13, overlayPoints = 15;
// Latin with its supplement, general punctuation, arrows.
const ImWchar glyphRanges[] = {0x0020, 0x00FF, 0x2000, 0x206F, 0x2190, 0x21FF, 0};

constexpr ImU32 colour(int r, int g, int b, int a = 255) {
    return IM_COL32(r, g, b, a);
}
constexpr ImU32 white = colour(255, 255, 255), black = colour(0, 0, 0), shadow = colour(0, 0, 0, 160);
constexpr ImU32 tint = colour(10, 132, 255); // the controls' accent blue

ImVec2 point(double x, double y) {
    return ImVec2(static_cast<float>(x), static_cast<float>(y));
}
ImTextureID textureId(GLuint texture) {
    return reinterpret_cast<ImTextureID>(static_cast<intptr_t>(texture));
}

GLuint compileShader(GLenum type, const char* source, std::string& log) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok)
        return shader;
    char text[1024] = {};
    glGetShaderInfoLog(shader, sizeof text, nullptr, text);
    log = text;
    glDeleteShader(shader);
    return 0;
}

GLuint makeTexture(int width, int height, const void* pixels) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    return texture;
}

void text(ImDrawList& list, float size, ImVec2 at, ImU32 colour, const std::string& text,
          const ImVec4* clip) {
    ImFont* font = ImGui::GetFont();
    list.AddText(font, size, ImVec2(at.x + 1, at.y + 1), shadow, text.c_str(), text.c_str() + text.size(), 0,
                 clip);
    list.AddText(font, size, at, colour, text.c_str(), text.c_str() + text.size(), 0, clip);
}

ImVec2 textSize(float size, const std::string& text) {
    return ImGui::GetFont()->CalcTextSizeA(size, 1e9f, 0, text.c_str(), text.c_str() + text.size());
}

void drawLabel(ImDrawList& list, const UILabel& label, CGRect f) {
    if (label.text().empty())
        return;
    const ImVec2 size = textSize(labelPoints, label.text());
    const ImVec4 clip(static_cast<float>(f.origin.x), static_cast<float>(f.origin.y),
                      static_cast<float>(f.origin.x + f.size.width),
                      static_cast<float>(f.origin.y + f.size.height));
    text(list, labelPoints, point(f.origin.x, f.origin.y + (f.size.height - size.y) / 2), white, label.text(),
         &clip);
}

void drawSlider(ImDrawList& list, const UISlider& slider, CGRect f) {
    const double range = slider.maximumValue() - slider.minimumValue();
    const double fraction =
        range > 0 ? std::clamp((slider.value() - slider.minimumValue()) / range, 0.0, 1.0) : 0.0;
    const double y = f.origin.y + f.size.height / 2, left = f.origin.x, right = f.origin.x + f.size.width;
    const double thumbX = left + fraction * (right - left);
    list.AddRectFilled(point(left, y - 2), point(right, y + 2), colour(120, 120, 128, 200), 2);
    list.AddRectFilled(point(left, y - 2), point(thumbX, y + 2), tint, 2);
    list.AddCircleFilled(point(thumbX, y + 1), 11, colour(0, 0, 0, 90));
    list.AddCircleFilled(point(thumbX, y), 10, white);
}

void drawSegments(ImDrawList& list, const UISegmentedControl& control, CGRect f) {
    const int count = control.numberOfSegments();
    const ImVec2 topLeft = point(f.origin.x, f.origin.y),
                 bottomRight = point(f.origin.x + f.size.width, f.origin.y + f.size.height);
    list.AddRectFilled(topLeft, bottomRight, colour(118, 118, 128, 110), 7);
    if (count <= 0)
        return;
    const double width = f.size.width / count;
    for (int i = 0; i < count; ++i) {
        const double x = f.origin.x + i * width;
        if (i == control.selectedSegmentIndex())
            list.AddRectFilled(point(x + 2, f.origin.y + 2),
                               point(x + width - 2, f.origin.y + f.size.height - 2), colour(99, 99, 102), 6);
        else if (i > 0 && i - 1 != control.selectedSegmentIndex())
            list.AddLine(point(x, f.origin.y + 6), point(x, f.origin.y + f.size.height - 6),
                         colour(200, 200, 200, 90));
        const std::string& title = control.titleForSegment(i);
        const ImVec2 size = textSize(titlePoints, title);
        const ImVec4 clip(static_cast<float>(x), static_cast<float>(f.origin.y),
                          static_cast<float>(x + width), static_cast<float>(f.origin.y + f.size.height));
        text(list, titlePoints, point(x + (width - size.x) / 2, f.origin.y + (f.size.height - size.y) / 2),
             white, title, &clip);
    }
}

void drawSpinner(ImDrawList& list, const UIActivityIndicatorView& spinner, CGRect f) {
    const UIColor c = spinner.color();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    const int lead = static_cast<int>(std::fmod(seconds * 12, 12));
    const double cx = f.origin.x + f.size.width / 2, cy = f.origin.y + f.size.height / 2;
    const double outer = std::min(f.size.width, f.size.height) / 2, inner = outer * 0.45;
    for (int spoke = 0; spoke < 12; ++spoke) {
        const double angle = spoke * (2 * std::numbers::pi / 12) - std::numbers::pi / 2;
        const int age = (lead - spoke + 12) % 12; // the leading spoke is brightest
        const int alpha = static_cast<int>(255 * c.alpha * (1.0 - age / 14.0));
        list.AddLine(point(cx + inner * std::cos(angle), cy + inner * std::sin(angle)),
                     point(cx + outer * std::cos(angle), cy + outer * std::sin(angle)),
                     colour(static_cast<int>(c.red * 255), static_cast<int>(c.green * 255),
                            static_cast<int>(c.blue * 255), alpha),
                     std::max(2.0, outer / 6));
    }
}

} // namespace

struct ScreenComposer::Gl {
    ImGuiContext* imgui = nullptr;
    GLuint program = 0, vertexArray = 0, vertexBuffer = 0, indexBuffer = 0, fontTexture = 0;
    GLint projection = -1, sampler = -1;
    GLuint frameTexture = 0;
    int frameWidth = 0, frameHeight = 0;
    uint64_t frameSequence = 0;
    GLuint offscreen = 0, offscreenColour = 0;
    int offscreenWidth = 0, offscreenHeight = 0;
    std::chrono::steady_clock::time_point lastFrame = std::chrono::steady_clock::now();
};

ScreenComposer::ScreenComposer() : gl_(std::make_unique<Gl>()) {}

std::unique_ptr<ScreenComposer> ScreenComposer::create(NSError* error) {
    std::unique_ptr<ScreenComposer> composer(new ScreenComposer());
    Gl& gl = *composer->gl_;
    std::string log;
    GLuint vertex = compileShader(GL_VERTEX_SHADER, vertexSource, log);
    GLuint fragment = vertex ? compileShader(GL_FRAGMENT_SHADER, fragmentSource, log) : 0;
    if (!vertex || !fragment) {
        if (vertex)
            glDeleteShader(vertex);
        if (error)
            *error = NSError("ScreenComposer", 1, "the screen's shaders do not compile: " + log);
        return nullptr;
    }
    gl.program = glCreateProgram();
    glAttachShader(gl.program, vertex);
    glAttachShader(gl.program, fragment);
    glLinkProgram(gl.program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint linked = GL_FALSE;
    glGetProgramiv(gl.program, GL_LINK_STATUS, &linked);
    if (!linked) {
        if (error)
            *error = NSError("ScreenComposer", 2, "the screen's shaders do not link");
        return nullptr;
    }
    gl.projection = glGetUniformLocation(gl.program, "projection");
    gl.sampler = glGetUniformLocation(gl.program, "image");

    glGenVertexArrays(1, &gl.vertexArray);
    glGenBuffers(1, &gl.vertexBuffer);
    glGenBuffers(1, &gl.indexBuffer);
    glBindVertexArray(gl.vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, gl.vertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gl.indexBuffer);
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(ImDrawVert),
                          reinterpret_cast<const void*>(offsetof(ImDrawVert, pos)));
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(ImDrawVert),
                          reinterpret_cast<const void*>(offsetof(ImDrawVert, uv)));
    glVertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(ImDrawVert),
                          reinterpret_cast<const void*>(offsetof(ImDrawVert, col)));
    glBindVertexArray(0);

    IMGUI_CHECKVERSION();
    gl.imgui = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    std::error_code ignored;
    ImFont* font = nullptr;
    if (std::filesystem::exists(fontPath, ignored))
        font = io.Fonts->AddFontFromFileTTF(fontPath, atlasFontPixels, nullptr, glyphRanges);
    if (!font)
        io.Fonts->AddFontDefault();
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    gl.fontTexture = makeTexture(width, height, pixels);
    io.Fonts->SetTexID(textureId(gl.fontTexture));
    io.Fonts->ClearTexData();

    if (glGetError() != GL_NO_ERROR) {
        if (error)
            *error = NSError("ScreenComposer", 3, "the screen's GL objects could not be made");
        return nullptr;
    }
    return composer;
}

ScreenComposer::~ScreenComposer() {
    Gl& gl = *gl_;
    // The context may already be gone at exit; deleting names of a dead context is harmless.
    GLuint textures[] = {gl.fontTexture, gl.frameTexture, gl.offscreenColour};
    glDeleteTextures(3, textures);
    if (gl.offscreen)
        glDeleteFramebuffers(1, &gl.offscreen);
    GLuint buffers[] = {gl.vertexBuffer, gl.indexBuffer};
    glDeleteBuffers(2, buffers);
    glDeleteVertexArrays(1, &gl.vertexArray);
    glDeleteProgram(gl.program);
    if (gl.imgui)
        ImGui::DestroyContext(gl.imgui);
}

void ScreenComposer::drawRenderView(const RenderView& view, ImDrawList& list) {
    Gl& gl = *gl_;
    const CGRect f = view.frameInRoot();
    const ImVec2 topLeft = point(f.origin.x, f.origin.y);
    const ImVec2 bottomRight = point(f.origin.x + f.size.width, f.origin.y + f.size.height);
    list.AddRectFilled(topLeft, bottomRight, black);
    const RenderView::Frame frame = view.latestFrame();
    if (frame.rgba && frame.width > 0 && frame.height > 0 &&
        frame.rgba->size() >= static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 4 &&
        frame.sequence != gl.frameSequence) {
        if (!gl.frameTexture || frame.width != gl.frameWidth || frame.height != gl.frameHeight) {
            if (gl.frameTexture)
                glDeleteTextures(1, &gl.frameTexture);
            gl.frameTexture = makeTexture(frame.width, frame.height, frame.rgba->data());
            gl.frameWidth = frame.width;
            gl.frameHeight = frame.height;
        } else {
            glBindTexture(GL_TEXTURE_2D, gl.frameTexture);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE,
                            frame.rgba->data());
        }
        gl.frameSequence = frame.sequence;
    }
    if (!gl.frameTexture || f.size.width <= 0 || f.size.height <= 0)
        return;
    // The picture keeps its proportions inside the view, as the render view's default
    // fill mode does; the rest of the view stays black.
    const Letterbox box =
        Letterbox::fit(CGSize{static_cast<double>(gl.frameWidth), static_cast<double>(gl.frameHeight)},
                       f.size.width, f.size.height);
    const double x = f.origin.x + box.offsetX, y = f.origin.y + box.offsetY;
    list.AddImage(textureId(gl.frameTexture), point(x, y),
                  point(x + gl.frameWidth * box.scale, y + gl.frameHeight * box.scale));
}

void ScreenComposer::drawTree(UIView& view, ImDrawList& list) {
    if (view.isHidden())
        return; // and everything inside it
    const CGRect f = view.frameInRoot();
    if (drawAssistView(list, view, f)) {
        // a plot panel, switch or stepper
    } else if (auto* renderView = dynamic_cast<RenderView*>(&view))
        drawRenderView(*renderView, list);
    else if (auto* label = dynamic_cast<UILabel*>(&view))
        drawLabel(list, *label, f);
    else if (auto* slider = dynamic_cast<UISlider*>(&view))
        drawSlider(list, *slider, f);
    else if (auto* segments = dynamic_cast<UISegmentedControl*>(&view))
        drawSegments(list, *segments, f);
    else if (dynamic_cast<UIStackView*>(&view))
        list.AddRectFilled(point(f.origin.x - 6, f.origin.y - 6),
                           point(f.origin.x + f.size.width + 6, f.origin.y + f.size.height + 6),
                           colour(0, 0, 0, 110), 10);
    else if (auto* spinner = dynamic_cast<UIActivityIndicatorView*>(&view)) {
        drawSpinner(list, *spinner, f);
        animating_ = animating_ || spinner->isAnimating();
    }
    for (const auto& child : view.subviews())
        drawTree(*child, list);
}

void ScreenComposer::drawOverlay(ImDrawList& list, double width, double height) {
    if (overlay_.empty())
        return;
    double textWidth = 0, lineHeight = overlayPoints * 1.4;
    for (const auto& line : overlay_)
        textWidth = std::max(textWidth, static_cast<double>(textSize(overlayPoints, line).x));
    const double panelWidth = textWidth + 32, panelHeight = lineHeight * overlay_.size() + 24;
    const double x = (width - panelWidth) / 2, y = (height - panelHeight) / 2;
    list.AddRectFilled(point(x, y), point(x + panelWidth, y + panelHeight), colour(20, 20, 24, 225), 12);
    for (size_t i = 0; i < overlay_.size(); ++i)
        text(list, overlayPoints, point(x + 16, y + 12 + lineHeight * i), white, overlay_[i], nullptr);
}

void ScreenComposer::render(const Letterbox& box, int width, int height) {
    Gl& gl = *gl_;
    ImDrawData* data = ImGui::GetDrawData();
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (!data)
        return;
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_SCISSOR_TEST);
    glUseProgram(gl.program);
    glUniform1i(gl.sampler, 0);
    glActiveTexture(GL_TEXTURE0);
    // Root points to clip space: scaled and offset into the letterbox, y downwards.
    const float sx = static_cast<float>(2 * box.scale / width),
                sy = static_cast<float>(-2 * box.scale / height);
    const float tx = static_cast<float>(2 * box.offsetX / width - 1),
                ty = static_cast<float>(1 - 2 * box.offsetY / height);
    const float projection[16] = {sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, -1, 0, tx, ty, 0, 1};
    glUniformMatrix4fv(gl.projection, 1, GL_FALSE, projection);
    glBindVertexArray(gl.vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, gl.vertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gl.indexBuffer);
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
            const CGPoint low = box.toSurface({command.ClipRect.x, command.ClipRect.y});
            const CGPoint high = box.toSurface({command.ClipRect.z, command.ClipRect.w});
            const int left = std::max(0, static_cast<int>(std::floor(low.x)));
            const int right = std::min(width, static_cast<int>(std::ceil(high.x)));
            const int top = std::max(0, static_cast<int>(std::floor(low.y)));
            const int bottom = std::min(height, static_cast<int>(std::ceil(high.y)));
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
    glDisable(GL_SCISSOR_TEST);
}

void ScreenComposer::compose(UIView& root, int width, int height) {
    Gl& gl = *gl_;
    ImGui::SetCurrentContext(gl.imgui);
    const CGRect bounds = root.frame();
    const CGSize size = bounds.size.width > 0 && bounds.size.height > 0 ? bounds.size : CGSize{390, 844};
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = point(size.width, size.height);
    const auto now = std::chrono::steady_clock::now();
    io.DeltaTime = std::max(1e-4f, std::chrono::duration<float>(now - gl.lastFrame).count());
    gl.lastFrame = now;

    root.layoutSubviews();
    ImGui::NewFrame();
    ImDrawList& list = *ImGui::GetBackgroundDrawList();
    list.AddRectFilled(point(0, 0), point(size.width, size.height), black);
    animating_ = false;
    // The root's frame places it on the screen; its own contents are drawn from its origin.
    for (const auto& child : root.subviews())
        drawTree(*child, list);
    drawOverlay(*ImGui::GetForegroundDrawList(), size.width, size.height);
    ImGui::Render();
    render(Letterbox::fit(size, width, height), width, height);
}

bool ScreenComposer::snapshot(UIView& root, double scale, std::vector<uint8_t>& rgba, int& width, int& height,
                              NSError* error) {
    Gl& gl = *gl_;
    const CGRect bounds = root.frame();
    const CGSize size = bounds.size.width > 0 && bounds.size.height > 0 ? bounds.size : CGSize{390, 844};
    width = static_cast<int>(std::lround(size.width * scale));
    height = static_cast<int>(std::lround(size.height * scale));
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    if (!gl.offscreen || width != gl.offscreenWidth || height != gl.offscreenHeight) {
        if (!gl.offscreen)
            glGenFramebuffers(1, &gl.offscreen);
        if (gl.offscreenColour)
            glDeleteTextures(1, &gl.offscreenColour);
        gl.offscreenColour = makeTexture(width, height, nullptr);
        glBindFramebuffer(GL_FRAMEBUFFER, gl.offscreen);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, gl.offscreenColour, 0);
        gl.offscreenWidth = width;
        gl.offscreenHeight = height;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, gl.offscreen);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
        if (error)
            *error = NSError("ScreenComposer", 4, "the offscreen framebuffer is incomplete");
        return false;
    }
    compose(root, width, height);
    std::vector<uint8_t> upsideDown(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, upsideDown.data());
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    if (GLenum problem = glGetError(); problem != GL_NO_ERROR) {
        if (error)
            *error = NSError("ScreenComposer", static_cast<int>(problem), "reading the screen back failed");
        return false;
    }
    // GL's first row is the bottom one; pictures start at the top.
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    rgba.resize(upsideDown.size());
    for (int row = 0; row < height; ++row)
        std::copy_n(upsideDown.data() + static_cast<size_t>(height - 1 - row) * rowBytes, rowBytes,
                    rgba.data() + static_cast<size_t>(row) * rowBytes);
    return true;
}

} // namespace host
