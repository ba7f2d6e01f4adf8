#pragma once

#include <QString>

struct StoredRun;

// How the practice windows put a run's figures into words.

// A press timing (press minus ideal time, ms) as early or late: "31 ms 遅れ", "12 ms 早め".
QString TimingText(int ms);
// A speed in percent of the song's, as the slider says it: "x0.8", "x1.0", "x0.75".
QString SpeedText(int percent);
// A mode as its button names it; the name the history keeps when it is none of the four.
QString ModeTitle(const QString& storedMode);
// The mode with the hand practised when it was one hand: 伴奏演奏（右手）.
QString ModeTitle(const QString& storedMode, const QString& storedHand);
// （右手） or （左手）; nothing for both hands.
QString HandSuffix(const QString& storedHand);
// False for a kept run in which no key was pressed (kept before such runs were left out).
bool AnythingPlayed(const StoredRun& run);
