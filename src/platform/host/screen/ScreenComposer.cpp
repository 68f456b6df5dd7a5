#include "host/screen/ScreenComposer.h"

#include <GLES3/gl3.h>
#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <filesystem>

#include "host/screen/AssistDrawing.h"
#include "host/screen/ImGuiImplGLES3.h"
#include "host/screen/ScreenFrameSink.h"
#include "host/screen/ScreenTexture.h"
#include "host/screen/ViewPainters.h"
#include "pipeline/Framebuffer.h"
#include "pipeline/Operations.h"
#include "ui/UIControls.h"
#include "ui/UIScreen.h"

namespace host {
namespace {

// DejaVu Sans reads well at phone sizes; ImGui's built-in font is the fallback.
constexpr const char* fontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr float atlasFontPixels = 30;
constexpr float overlayPoints = 15;
constexpr double overlayInset = 8; // between the overlay and the window's edges
// Latin with its supplement, general punctuation, arrows.
const ImWchar glyphRanges[] = {0x0020, 0x00FF, 0x2000, 0x206F, 0x2190, 0x21FF, 0};

ImTextureID textureId(GLuint texture) {
    return reinterpret_cast<ImTextureID>(static_cast<intptr_t>(texture));
}

// The size the root is drawn at: its own, or the screen's before it has one.
CGSize rootSize(UIView& root) {
    const CGRect bounds = root.frame();
    return bounds.size.width > 0 && bounds.size.height > 0 ? bounds.size : UIScreen::mainBounds().size;
}

} // namespace

struct ScreenComposer::Gl {
    ImGuiContext* imgui = nullptr;
    bool drawsPipelineTextures = false;
    // The render view this screen is a sink of, and the sink (held weakly by the view, so it
    // goes with the composer).
    const RenderView* attachedTo = nullptr;
    std::shared_ptr<ScreenFrameSink> frames;
    // The frame drawn last, from the pipeline's texture (kept, so it is not drawn into while
    // shown), and whether this composition sampled it.
    PresentedFrame shown;
    bool sampledShown = false;
    // Without shared textures: the uploaded copy.
    GLuint frameTexture = 0;
    int frameWidth = 0, frameHeight = 0;
    uint64_t frameSequence = 0;
    GLuint offscreen = 0, offscreenColour = 0;
    int offscreenWidth = 0, offscreenHeight = 0;
    std::chrono::steady_clock::time_point lastFrame = std::chrono::steady_clock::now();
};

ScreenComposer::ScreenComposer() : gl_(std::make_unique<Gl>()) {}

std::unique_ptr<ScreenComposer> ScreenComposer::create(NSError* error, bool drawsPipelineTextures) {
    std::unique_ptr<ScreenComposer> composer(new ScreenComposer());
    Gl& gl = *composer->gl_;
    gl.drawsPipelineTextures = drawsPipelineTextures;
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
    const char* failure = nullptr;
    if (!ImGui_ImplGLES3_Init(&failure)) {
        if (error)
            *error =
                NSError("ScreenComposer", 1, failure ? failure : "the screen's renderer could not be made");
        return nullptr;
    }
    return composer;
}

ScreenComposer::~ScreenComposer() {
    Gl& gl = *gl_;
    // The context may already be gone at exit; deleting names of a dead context is harmless.
    GLuint textures[] = {gl.frameTexture, gl.offscreenColour};
    glDeleteTextures(2, textures);
    if (gl.offscreen)
        glDeleteFramebuffers(1, &gl.offscreen);
    if (gl.imgui) {
        ImGui::SetCurrentContext(gl.imgui);
        ImGui_ImplGLES3_Shutdown();
    }
    if (gl.imgui)
        ImGui::DestroyContext(gl.imgui);
}

unsigned ScreenComposer::frameTexture(RenderView& view, int& width, int& height) {
    Gl& gl = *gl_;
    if (gl.attachedTo != &view) {
        gl.frames = std::make_shared<ScreenFrameSink>(gl.drawsPipelineTextures);
        view.addSink(gl.frames);
        gl.attachedTo = &view;
        // The sink hears of the frame shown now on the GPU queue; a snapshot taken at once
        // shows it all the same.
        gl.frames->framePresented(view.presentedFrame());
        if (!gl.drawsPipelineTextures)
            view.sinkNeedsChanged();
    }
    if (gl.drawsPipelineTextures) {
        PresentedFrame frame = gl.frames->frame();
        if (frame.sequence != gl.shown.sequence && frame.framebuffer) {
            if (frame.drawn)
                frame.drawn->waitOnCurrentContext();
            gl.shown = std::move(frame);
        }
        if (!gl.shown.framebuffer)
            return 0;
        gl.sampledShown = true;
        width = gl.shown.width;
        height = gl.shown.height;
        return gl.shown.framebuffer->texture();
    }
    const FramePixels frame = gl.frames->pixels();
    if (frame.rgba && frame.sequence != gl.frameSequence) {
        if (!gl.frameTexture || frame.width != gl.frameWidth || frame.height != gl.frameHeight) {
            if (gl.frameTexture)
                glDeleteTextures(1, &gl.frameTexture);
            gl.frameTexture = makeScreenTexture(frame.width, frame.height, frame.rgba->data());
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
    width = gl.frameWidth;
    height = gl.frameHeight;
    return gl.frameTexture;
}

void ScreenComposer::releaseShownFrame() {
    Gl& gl = *gl_;
    if (!gl.sampledShown || !gl.shown.framebuffer)
        return;
    gl.sampledShown = false;
    if (auto fence = GPUFence::insert())
        gl.shown.framebuffer->setReleaseFence(std::move(fence));
}

void ScreenComposer::drawRenderView(RenderView& view, ImDrawList& list) {
    const CGRect f = view.frameInRoot();
    const ImVec2 topLeft = point(f.origin.x, f.origin.y);
    const ImVec2 bottomRight = point(f.origin.x + f.size.width, f.origin.y + f.size.height);
    int width = 0, height = 0;
    const unsigned texture = frameTexture(view, width, height);
    if (!texture || width <= 0 || height <= 0 || f.size.width <= 0 || f.size.height <= 0) {
        list.AddRectFilled(topLeft, bottomRight, black);
        return;
    }
    // The picture keeps its proportions inside the view, as the render view's default
    // fill mode does; the rest of the view is black. Only those bands are filled: in
    // software every pixel drawn twice costs, and the picture is opaque.
    const Letterbox box = Letterbox::fit(CGSize{static_cast<double>(width), static_cast<double>(height)},
                                         f.size.width, f.size.height);
    const double x = f.origin.x + box.offsetX, y = f.origin.y + box.offsetY;
    const ImVec2 pictureTopLeft = point(x, y),
                 pictureBottomRight = point(x + width * box.scale, y + height * box.scale);
    if (pictureTopLeft.y > topLeft.y)
        list.AddRectFilled(topLeft, point(f.origin.x + f.size.width, y), black);
    if (pictureBottomRight.y < bottomRight.y)
        list.AddRectFilled(point(f.origin.x, y + height * box.scale), bottomRight, black);
    if (pictureTopLeft.x > topLeft.x)
        list.AddRectFilled(topLeft, point(x, f.origin.y + f.size.height), black);
    if (pictureBottomRight.x < bottomRight.x)
        list.AddRectFilled(point(x + width * box.scale, f.origin.y), bottomRight, black);
    list.AddImage(textureId(texture), pictureTopLeft, pictureBottomRight);
}

void ScreenComposer::drawTree(UIView& view, ImDrawList& list) {
    if (view.isHidden())
        return; // and everything inside it
    const CGRect f = view.frameInRoot();
    auto* stack = dynamic_cast<UIStackView*>(&view);
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
    else if (auto* button = dynamic_cast<UIButton*>(&view))
        drawButton(list, *button, f);
    else if (stack)
        drawStackPanel(list, *stack, f);
    else if (auto* spinner = dynamic_cast<UIActivityIndicatorView*>(&view)) {
        drawSpinner(list, *spinner, f);
        animating_ = animating_ || spinner->isAnimating();
    }
    // A control a person cannot change now is veiled: greyed, as inactive controls are.
    if (auto* control = dynamic_cast<UIControl*>(&view); control && !control->isEnabled())
        list.AddRectFilled(point(f.origin.x, f.origin.y),
                           point(f.origin.x + f.size.width, f.origin.y + f.size.height),
                           colour(40, 40, 44, 150), 6);
    // What a scrolling stack has moved beyond its frame is not shown.
    const bool clips = stack && stack->scrolls;
    if (clips)
        list.PushClipRect(point(f.origin.x, f.origin.y),
                          point(f.origin.x + f.size.width, f.origin.y + f.size.height), true);
    for (const auto& child : view.subviews())
        drawTree(*child, list);
    if (clips)
        list.PopClipRect();
}

void ScreenComposer::drawOverlay(ImDrawList& list, double width, double height) {
    if (overlay_.empty())
        return;
    double textWidth = 0;
    for (const auto& line : overlay_)
        textWidth = std::max(textWidth, static_cast<double>(textSize(overlayPoints, line).x));
    // Sized for the text at its usual size, then shrunk as a whole to fit a small window.
    const double lineHeight = overlayPoints * 1.4, padX = 16, padY = 12;
    const double natural = textWidth + 2 * padX, naturalHeight = lineHeight * overlay_.size() + 2 * padY;
    const double scale =
        std::min({1.0, (width - 2 * overlayInset) / natural, (height - 2 * overlayInset) / naturalHeight});
    const double panelWidth = natural * scale, panelHeight = naturalHeight * scale;
    const double x = (width - panelWidth) / 2, y = (height - panelHeight) / 2;
    list.AddRectFilled(point(x, y), point(x + panelWidth, y + panelHeight), colour(20, 20, 24, 225), 12);
    for (size_t i = 0; i < overlay_.size(); ++i)
        drawText(list, static_cast<float>(overlayPoints * scale),
                 point(x + padX * scale, y + (padY + lineHeight * i) * scale), white, overlay_[i], nullptr);
}

void ScreenComposer::compose(UIView& root, int width, int height) {
    Gl& gl = *gl_;
    ImGui::SetCurrentContext(gl.imgui);
    const CGSize size = rootSize(root);
    const Letterbox box = Letterbox::fit(size, width, height);
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = point(size.width, size.height);
    io.DisplayFramebufferScale = point(box.scale, box.scale);
    const auto now = std::chrono::steady_clock::now();
    io.DeltaTime = std::max(1e-4f, std::chrono::duration<float>(now - gl.lastFrame).count());
    gl.lastFrame = now;

    root.layoutSubviews();
    ImGui_ImplGLES3_NewFrame();
    ImGui::NewFrame();
    // The renderer clears to black first: the screen behind the views needs no drawing.
    ImDrawList& list = *ImGui::GetBackgroundDrawList();
    animating_ = false;
    // The root's frame places it on the screen; its own contents are drawn from its origin.
    for (const auto& child : root.subviews())
        drawTree(*child, list);
    drawOverlay(*ImGui::GetForegroundDrawList(), size.width, size.height);
    ImGui::Render();
    ImGui_ImplGLES3_RenderDrawData(ImGui::GetDrawData(), width, height, static_cast<float>(box.offsetX),
                                   static_cast<float>(box.offsetY));
    releaseShownFrame();
}

bool ScreenComposer::snapshot(UIView& root, double scale, std::vector<uint8_t>& rgba, int& width, int& height,
                              NSError* error) {
    Gl& gl = *gl_;
    const CGSize size = rootSize(root);
    width = static_cast<int>(std::lround(size.width * scale));
    height = static_cast<int>(std::lround(size.height * scale));
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    if (!gl.offscreen || width != gl.offscreenWidth || height != gl.offscreenHeight) {
        if (!gl.offscreen)
            glGenFramebuffers(1, &gl.offscreen);
        if (gl.offscreenColour)
            glDeleteTextures(1, &gl.offscreenColour);
        gl.offscreenColour = makeScreenTexture(width, height, nullptr);
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
