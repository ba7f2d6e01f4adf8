#include "pictures.h"

namespace resgen {
namespace {

Rgba Mix(Rgba a, Rgba b, int percentOfB) {
    auto ch = [&](uint8_t x, uint8_t y) {
        return static_cast<uint8_t>((x * (100 - percentOfB) + y * percentOfB + 50) / 100);
    };
    return {ch(a.r, b.r), ch(a.g, b.g), ch(a.b, b.b), 255};
}

}  // namespace

Image DrawLed(bool lit) {
    const Rgba body = lit ? Rgba{120, 255, 0, 255} : Rgba{41, 87, 0, 255};
    const Rgba glint = lit ? Rgba{236, 255, 220, 255} : Rgba{128, 168, 104, 255};

    Image led(kLedWidth, kLedHeight);
    for (int y = 0; y < kLedHeight; ++y) {
        for (int x = 0; x < kLedWidth; ++x) {
            // The edge row and column carry the full glint, the next ones half of it, so the
            // highlight looks rounded rather than drawn on.
            const int edge = (x < y ? x : y);
            Rgba p = body;
            if (edge == 0) {
                p = glint;
            } else if (edge == 1) {
                p = Mix(body, glint, 45);
            }
            led.At(x, y) = p;
        }
    }
    return led;
}

}  // namespace resgen
