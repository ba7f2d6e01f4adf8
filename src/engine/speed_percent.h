#pragma once

#include <cstdlib>

#include "engine/play_mode.h"

// Speeds finer than the slider's five: any percent in this range, in these steps.
inline constexpr int kMinSpeedPercent = 30;
inline constexpr int kMaxSpeedPercent = 150;
inline constexpr int kSpeedPercentStep = 5;

inline constexpr bool ValidSpeedPercent(int percent) {
    return percent >= kMinSpeedPercent && percent <= kMaxSpeedPercent &&
           percent % kSpeedPercentStep == 0;
}

// The slider position whose speed lies nearest to percent; between two, the slower.
inline int NearestSpeedPosition(int percent) {
    int best = 0;
    for (int i = 1; i < kSpeedPositions; ++i) {
        if (std::abs(SpeedPercentTable[i] - percent) <
            std::abs(SpeedPercentTable[best] - percent)) {
            best = i;
        }
    }
    return best;
}
