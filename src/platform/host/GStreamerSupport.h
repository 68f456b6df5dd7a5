#pragma once
// What the host's GStreamer pipelines (the recorder, the live encoder and its branches)
// share: starting GStreamer once, finding elements, building a pipeline or a branch from
// its description, and handing pooled frame bytes to a pipeline without a copy.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstBuffer GstBuffer;

namespace host {

// GStreamer started, once for the process; false when it cannot start.
bool gstreamerReady();
// Whether an element of `factory` is installed.
bool elementInstalled(const char* factory);
// The element called `name` inside `bin`, with a reference of its own (null if none).
GstElement* childByName(GstElement* bin, const char* name);
// A pipeline (`asBranch` false) or a bin with its one free sink pad ghosted (true), built
// from `description` and owned by the caller; null with `problem` (GStreamer's words, or
// `fallback`).
GstElement* buildFromDescription(const std::string& description, bool asBranch, const char* fallback,
                                 std::string& problem);
// A steady-clock time in the pipelines' own clock (the monotonic clock, as steady_clock
// is on Linux): nanoseconds from the same start.
inline uint64_t monotonicNanoseconds(std::chrono::steady_clock::time_point time) {
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count());
}
// A read-only buffer over the first `size` of `bytes`, which it holds until GStreamer lets
// go of it (they then return to the frame pool).
GstBuffer* wrapFrameBytes(const std::shared_ptr<const std::vector<uint8_t>>& bytes, size_t size);

} // namespace host
