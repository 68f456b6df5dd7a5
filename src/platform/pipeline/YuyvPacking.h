#pragma once
// RGBA pictures as YUYV 4:2:2 on the GPU, for sinks that feed video programs: one pass
// into a framebuffer half as wide, whose RGBA8 texels hold (Y0, U, Y1, V) for each pair
// of pixels, so that reading it back gives the packed bytes as V4L2 and GStreamer lay
// them out. BT.601 in limited range, what webcams send and what readers assume of YUYV.
//
// Threads: GPU queue only.
#include "pipeline/Framebuffer.h"

// Null when the pass cannot be drawn (the error is on standard error). A picture of odd
// width loses its last column.
FramebufferRef packYuyv(const Framebuffer& picture);
