#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace smf {

struct TempoChange {
    uint32_t tick;
    uint32_t microsPerQuarter;
};

// Tick <-> millisecond conversion of one song: its division and every tempo change. A value of
// its own so that what is built from a song's times (the meter map) can outlive the song.
class TempoMap {
  public:
    TempoMap() = default;
    TempoMap(const TempoMap& other);
    TempoMap& operator=(const TempoMap& other);

    // changes: every tempo event of the song, tracks in file order and each track's events in
    // order. Where several fall on the same tick the one read last wins, as it would when played.
    void Build(uint16_t division, std::vector<TempoChange> changes);

    // Absolute time of a tick in milliseconds from the start of the song with every tempo
    // change applied; never decreasing as the tick grows.
    uint32_t TickToMs(uint32_t tick) const;
    // The first tick whose time is at or after ms (ticks past the last one that exists map to
    // the largest tick).
    uint32_t MsToTick(uint32_t ms) const;

    uint16_t Division() const { return m_division; }
    const std::vector<TempoChange>& Changes() const { return m_tempos; }
    // True when the division counts SMPTE frames: times then ignore tempo changes.
    bool IsSmpte() const { return (m_division & 0x8000) != 0; }

  private:
    uint16_t m_division = 480;
    std::vector<TempoChange> m_tempos;  // sorted by tick, first at tick 0
    // Exact song time at each tempo change in units of tick * microseconds-per-quarter, so that
    // rounding never accumulates over a long song (fits 64 bits: ticks < 2^32, tempo < 2^24).
    std::vector<uint64_t> m_tempoStartUnits;
    // Tempo segment of the last conversion: callers mostly convert ticks in ascending order, so
    // the next one is usually in the same segment or the one after. Shared by every reader of
    // the map; a stale value only costs a search.
    mutable std::atomic<uint32_t> m_tempoHint{0};
};

}  // namespace smf
