#pragma once
// How the process's allocator treats camera frames, set once before the first frame.

namespace host {

// Every frame passes through several buffers of 1.2 MB (the camera's picture, the
// analysis bitmap, the render view's read-back), each made and freed on its own thread.
// By default glibc raises its mmap threshold after the first such buffer is freed, so
// later ones come from the threads' arenas, which keep the most they ever held at once
// and fragment: a long run's resident memory climbs in steps (7 MiB over 20,000 frames).
// A fixed threshold keeps large buffers in their own mappings, returned on free.
void keepLargeBuffersReturnable();

} // namespace host
