#pragma once
// Dear ImGui renderer backend for OpenGL ES 3.0, in the shape of Dear ImGui's own backends.
//
// Supports:
//  - any OpenGL ES 3 context current on the calling thread: a window's or an offscreen one
//  - user textures: ImTextureID is a GL texture name (GLuint cast through intptr_t)
//  - 16- and 32-bit indices, clip rectangles (not ImDrawCmd::VtxOffset: ES 3.0 has no
//    base-vertex draw)
//  - a display placed anywhere in the surface: FramebufferScale gives the surface pixels
//    per display point, the origin passed to RenderDrawData where the display's top-left
//    corner lands (a letterboxed screen)
// Not supported: user callbacks, multiple viewports.
//
// Its program is compiled by the image pipeline's shader code, so a failure reads the same
// as any other shader's. Call everything on the thread whose context made the objects.
struct ImDrawData;

// Creates the program and buffers in the current context; false when they cannot be made
// (`failure` then says why).
bool ImGui_ImplGLES3_Init(const char** failure);
void ImGui_ImplGLES3_Shutdown();
// Builds the font texture from the atlas the first time (after the fonts are added).
void ImGui_ImplGLES3_NewFrame();
// Draws into the framebuffer bound now, of surfaceWidth x surfaceHeight pixels, cleared to
// black first; the display's top-left corner lands at (originX, originY) surface pixels.
void ImGui_ImplGLES3_RenderDrawData(ImDrawData* data, int surfaceWidth, int surfaceHeight, float originX,
                                    float originY);
