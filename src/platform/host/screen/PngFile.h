#pragma once
// PNG files of RGBA pictures (snapshots and captures).
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/NSError.h"

namespace host {

// Writes `rgba` (width x height, the first row in memory is the top row) to `path`
// through a temporary file renamed into place, so a reader never sees half a picture.
// Returns false and fills `error` when the file cannot be written.
bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
              NSError* error);

} // namespace host
