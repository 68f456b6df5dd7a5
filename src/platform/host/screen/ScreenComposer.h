#pragma once
// What a person sees: the processed picture in the render view's frame and every visible
// view of the tree drawn from its model (labels, sliders, segmented controls, stack-view
// panels, the spinner), drawn with Dear ImGui's draw lists and rendered with OpenGL ES 3
// by the thread whose context is current (the main thread). The window presents it; a
// snapshot renders the same into an offscreen framebuffer, so both show the same screen.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/NSError.h"
#include "host/screen/Letterbox.h"

class UIView;
class RenderView;
struct ImDrawList;

namespace host {

class ScreenComposer {
  public:
    // Needs a current OpenGL ES 3 context; null (with `error`) when its shaders or
    // textures cannot be made. One composer at a time: it owns the ImGui context. With
    // `drawsPipelineTextures` (the context shares the GPU queue's objects) the picture is
    // drawn from the render view's own texture; otherwise its pixels are read back and
    // uploaded.
    static std::unique_ptr<ScreenComposer> create(NSError* error, bool drawsPipelineTextures);
    ~ScreenComposer();
    ScreenComposer(const ScreenComposer&) = delete;
    ScreenComposer& operator=(const ScreenComposer&) = delete;

    // Lines drawn over everything (the window's help); empty for none.
    void setOverlay(std::vector<std::string> lines) { overlay_ = std::move(lines); }

    // Draws `root`'s tree, letterboxed, into the framebuffer bound now (width x height
    // pixels). Main thread.
    void compose(UIView& root, int width, int height);
    // The screen at `scale` pixels per point, RGBA with the top row first. Main thread.
    bool snapshot(UIView& root, double scale, std::vector<uint8_t>& rgba, int& width, int& height,
                  NSError* error);

    // Whether the last composition showed something that moves by itself (a spinning
    // activity indicator), so the window keeps redrawing.
    bool isAnimating() const { return animating_; }

  private:
    ScreenComposer();
    struct Gl;
    void drawTree(UIView& view, ImDrawList& list);
    void drawRenderView(RenderView& view, ImDrawList& list);
    // The texture of the frame to show in `view`, with its size; 0 when there is none yet.
    unsigned frameTexture(RenderView& view, int& width, int& height);
    // After the commands that sample the shown frame: it may be drawn into again after them.
    void releaseShownFrame();
    void drawOverlay(ImDrawList& list, double width, double height);

    std::unique_ptr<Gl> gl_;
    std::vector<std::string> overlay_;
    bool animating_ = false;
};

} // namespace host
