#pragma once

#include <cstdint>
#include <vector>

#include "image.h"

namespace resgen {

// An 8-bit RGBA PNG, compressed with zlib at its best level.
std::vector<uint8_t> EncodePng(const Image& image);

}  // namespace resgen
