#pragma once

#include <cstdint>
#include <vector>

namespace resgen {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

// A top-down RGBA picture that the image writers serialise.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels;  // row by row, from the top

    Image(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h) {}
    Rgba& At(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    const Rgba& At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

}  // namespace resgen
