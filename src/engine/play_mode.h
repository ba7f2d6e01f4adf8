#pragma once

#include <cstdint>

enum class PlayMode : int32_t { ModelPerformance, MyPaceLesson, Accompaniment, Solo };

enum MuteMode : int32_t { MuteNone = 0, MutePractice = 1, MuteNonPractice = 2 };

enum PlayState : int32_t { Stopped = 0, Starting = 1, Playing = 2 };

// Speed in percent for each position of the speed slider; position 3 is x1.0.
inline constexpr int SpeedPercentTable[5] = {50, 80, 90, 100, 120};
inline constexpr int kSpeedPositions = 5;
inline constexpr int kDefaultSpeedPosition = 3;

// A slider position brought into the slider's range, whatever asked for it (a key step past an
// end, a position a window reports).
inline constexpr int ClampSpeedPosition(int position) {
    return position < 0 ? 0 : position >= kSpeedPositions ? kSpeedPositions - 1 : position;
}
