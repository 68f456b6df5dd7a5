#pragma once
// JPEG encoding of RGBA pictures (the shutter's photos), with libjpeg-turbo.
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// `rgba` is width x height, the first row in memory the top row. Returns false with `why`
// when the encoder fails; `jpeg` then holds nothing useful.
bool encodeJpeg(int width, int height, const std::vector<uint8_t>& rgba, int quality,
                std::vector<uint8_t>& jpeg, std::string& why);

} // namespace host
