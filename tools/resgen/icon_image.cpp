#include "pictures.h"

#include <algorithm>
#include <cmath>

namespace resgen {
namespace {

// Colours are blended in premultiplied form so that anti-aliased edges over the transparent
// background do not darken.
struct Premul {
    double r = 0, g = 0, b = 0, a = 0;
};

void Over(Premul& dst, double r, double g, double b, double a) {
    dst.r = r * a + dst.r * (1 - a);
    dst.g = g * a + dst.g * (1 - a);
    dst.b = b * a + dst.b * (1 - a);
    dst.a = a + dst.a * (1 - a);
}

bool InRoundRect(double x, double y, double left, double top, double right, double bottom,
                 double radius) {
    if (x < left || x > right || y < top || y > bottom) {
        return false;
    }
    const double cx = std::clamp(x, left + radius, right - radius);
    const double cy = std::clamp(y, top + radius, bottom - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// The drawing in unit coordinates (0-1 across and down).
constexpr double kBodyLeft = 0.05, kBodyRight = 0.95, kBodyTop = 0.42, kBodyBottom = 0.88;
constexpr double kKeysLeft = 0.10, kKeysRight = 0.90, kKeysTop = 0.54, kKeysBottom = 0.84;
constexpr int kWhiteKeys = 7;
constexpr int kLitKey = 2;  // E: the key that lights

double KeyWidth() {
    return (kKeysRight - kKeysLeft) / kWhiteKeys;
}

Premul Shade(double x, double y) {
    Premul p;

    // Green glow rising from the lit key.
    const double glowX = kKeysLeft + (kLitKey + 0.5) * KeyWidth();
    const double glowY = kKeysTop;
    const double d = std::hypot(x - glowX, (y - glowY) * 1.15);
    if (d < 0.42) {
        const double t = 1 - d / 0.42;
        Over(p, 120 / 255.0, 1.0, 0.0, 0.85 * t * t);
    }

    // Rays above the lit key.
    for (int i = -2; i <= 2; ++i) {
        const double angle = i * 0.38;
        const double dx = std::sin(angle), dy = -std::cos(angle);
        const double along = (x - glowX) * dx + (y - glowY) * dy;
        const double across = std::fabs((x - glowX) * dy - (y - glowY) * dx);
        if (along > 0.17 && along < 0.36 && across < 0.018) {
            Over(p, 120 / 255.0, 1.0, 0.0, 1.0);
        }
    }

    // Keyboard body with a lighter panel strip.
    if (InRoundRect(x, y, kBodyLeft, kBodyTop, kBodyRight, kBodyBottom, 0.05)) {
        Over(p, 0.16, 0.17, 0.20, 1.0);
        if (y < kKeysTop - 0.03 && y > kBodyTop + 0.03) {
            Over(p, 0.26, 0.27, 0.31, 1.0);
        }
        // A small indicator on the panel, lit like the key.
        if (std::hypot(x - 0.82, y - (kBodyTop + kKeysTop) / 2 + 0.005) < 0.022) {
            Over(p, 120 / 255.0, 1.0, 0.0, 1.0);
        }
    }

    // White keys.
    const double w = KeyWidth();
    if (y >= kKeysTop && y <= kKeysBottom && x >= kKeysLeft && x <= kKeysRight) {
        const int key = std::min(kWhiteKeys - 1, static_cast<int>((x - kKeysLeft) / w));
        const double inKey = x - kKeysLeft - key * w;
        if (inKey > w * 0.06 && inKey < w * 0.94 &&
            InRoundRect(x, y, kKeysLeft + key * w, kKeysTop, kKeysLeft + (key + 1) * w, kKeysBottom,
                        0.015)) {
            if (key == kLitKey) {
                Over(p, 120 / 255.0, 1.0, 0.0, 1.0);
            } else {
                Over(p, 0.96, 0.96, 0.94, 1.0);
            }
        }
    }

    // Black keys after C, D, F, G and A.
    constexpr int kBlackAfter[] = {0, 1, 3, 4, 5};
    for (int k : kBlackAfter) {
        const double centre = kKeysLeft + (k + 1) * w;
        if (std::fabs(x - centre) < w * 0.30 && y >= kKeysTop && y <= kKeysTop + 0.17) {
            Over(p, 0.08, 0.08, 0.10, 1.0);
        }
    }
    return p;
}

}  // namespace

Image DrawIcon(int size) {
    constexpr int kSamples = 4;  // per axis, for smooth edges
    Image icon(size, size);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            Premul sum;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double x = (px + (sx + 0.5) / kSamples) / size;
                    const double y = (py + (sy + 0.5) / kSamples) / size;
                    const Premul s = Shade(x, y);
                    sum.r += s.r;
                    sum.g += s.g;
                    sum.b += s.b;
                    sum.a += s.a;
                }
            }
            const double n = kSamples * kSamples;
            const double a = sum.a / n;
            Rgba& out = icon.At(px, py);
            if (a <= 0) {
                out = {0, 0, 0, 0};
                continue;
            }
            auto channel = [&](double v) {
                return static_cast<uint8_t>(std::clamp(std::lround(v / n / a * 255), 0L, 255L));
            };
            out = {channel(sum.r), channel(sum.g), channel(sum.b),
                   static_cast<uint8_t>(std::lround(a * 255))};
        }
    }
    return icon;
}

}  // namespace resgen
