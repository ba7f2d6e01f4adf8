#pragma once

#include <cstdint>
#include <vector>

#include "image.h"

namespace resgen {

// A bottom-up 24-bit BMP (BITMAPINFOHEADER); alpha is dropped.
std::vector<uint8_t> EncodeBmp24(const Image& image);

}  // namespace resgen
