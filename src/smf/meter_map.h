#pragma once

#include <cstdint>
#include <vector>

#include "smf/tempo_map.h"

namespace smf {

class Song;

// A place in the music as a musician counts it: bar and beat, both from 1.
struct BarBeat {
    uint32_t bar = 1;
    uint32_t beat = 1;
    bool operator==(const BarBeat&) const = default;
};

// Bars and beats of a song, from its time signature events and its tempo map. 4/4 until the
// first time signature; each one takes effect at its tick, whatever track it is in, and starts a
// new bar there (a bar it cuts short still counts as a bar). The beat is the note value of the
// signature's denominator, so 6/8 has six beats a bar. Bars beyond the song's end go on in its
// last meter. A value: it keeps its own copy of the tempo map and never refers to the song.
class MeterMap {
  public:
    // 4/4 at 120 beats per minute, 480 ticks a quarter note, one empty bar.
    MeterMap();
    explicit MeterMap(const Song& song);

    // Bars from the start up to the song's last event; at least 1.
    uint32_t BarCount() const { return m_barCount; }
    uint32_t EndTick() const { return m_endTick; }
    uint32_t EndMs() const { return m_tempo.TickToMs(m_endTick); }

    uint32_t BarStartTick(uint32_t bar) const;
    uint32_t BarStartMs(uint32_t bar) const { return m_tempo.TickToMs(BarStartTick(bar)); }
    uint32_t BeatsInBar(uint32_t bar) const;
    // The length of one beat of the bar in ticks: the note value of its meter's denominator.
    uint32_t BeatTicks(uint32_t bar) const {
        return SegmentOfBar(bar == 0 ? 0 : bar - 1).ticksPerBeat;
    }
    // Beats past the bar's last one count on into the following bars.
    uint32_t BeatTick(uint32_t bar, uint32_t beat) const;
    uint32_t BeatMs(uint32_t bar, uint32_t beat) const {
        return m_tempo.TickToMs(BeatTick(bar, beat));
    }

    BarBeat AtTick(uint32_t tick) const;
    // The bar and beat sounding at ms: those of the last tick that has come by then.
    BarBeat AtMs(uint32_t ms) const;

    const TempoMap& Tempo() const { return m_tempo; }

  private:
    struct Segment {
        uint32_t tick = 0;      // where this meter starts; a bar starts here
        uint32_t firstBar = 0;  // index (from 0) of the bar starting at tick
        uint32_t ticksPerBeat = 1;
        uint32_t beatsPerBar = 4;
        uint64_t TicksPerBar() const { return uint64_t{ticksPerBeat} * beatsPerBar; }
    };
    void AddSegment(uint32_t tick, uint32_t numerator, uint32_t denominatorPower);
    const Segment& SegmentOfBar(uint32_t barIndex) const;
    const Segment& SegmentOfTick(uint32_t tick) const;
    void Finish();

    TempoMap m_tempo;
    uint32_t m_ticksPerQuarter = 480;
    std::vector<Segment> m_segments;  // by tick; the first at tick 0
    uint32_t m_endTick = 0;
    uint32_t m_barCount = 1;
};

}  // namespace smf
