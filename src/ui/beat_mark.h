#pragma once

#include <cstdint>

#include "engine/song_clock.h"

namespace smf {
class MeterMap;
}

// What the position bar's beat mark shows: the beat the song is on (or the count-in's), and
// whether it has just begun, so that the mark flashes once a beat and more strongly on a bar's
// first.
struct BeatMark {
    uint32_t beat = 0;  // from 1, of the bar or of the whole count-in; 0: nothing to show
    uint32_t beats = 0;
    bool countIn = false;
    bool accent = false;
    bool lit = false;
    bool operator==(const BeatMark&) const = default;
};

// Clock milliseconds a beat's flash lasts.
inline constexpr uint32_t kBeatFlashMs = 150;

// The mark at clock value nowMs, from the song clock as last published: a song that stands
// (stopped, waiting for the player) shows its beat unlit.
BeatMark BeatMarkAt(const SongClock::Reading& clock, const smf::MeterMap& meter, uint32_t nowMs);
