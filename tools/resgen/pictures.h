#pragma once

#include "image.h"

namespace resgen {

inline constexpr int kLedWidth = 10;
inline constexpr int kLedHeight = 32;

// The mode indicator: a vertical bar with a light glint along its top and left edges.
Image DrawLed(bool lit);

// The application icon: a small keyboard with one lit key glowing green, on a transparent
// background, drawn at any square size.
Image DrawIcon(int size);

}  // namespace resgen
