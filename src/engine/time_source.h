#pragma once

#include <cstdint>
#include <limits>

// The tick a time source is asked after.
struct TickMoment {
    uint32_t nowMs = 0;    // the clock value of the tick just run
    bool playing = false;  // the song plays (not stopped, not about to start)
};

// A part of the performance that sends things at moments of its own (the song's events and
// chords, the key lights' flashing). Each answers from its own state when its next thing is
// due; the playback clock sleeps until the earliest answer of all of them. A new timed thing
// only has to answer for itself.
class TimeSource {
  public:
    static constexpr uint32_t kNever = std::numeric_limits<uint32_t>::max();

    virtual ~TimeSource() = default;

    // Clock milliseconds from the tick at `tick.nowMs` to the next tick in which this source
    // can change what is sent by itself, or kNever. Anything else that changes it (a command,
    // the player's keys) wakes the clock. With the play lock held.
    virtual uint32_t NextDueMs(const TickMoment& tick) const = 0;
    // True when what this source sends is only key lights, never a song event: its tick may
    // come late in its millisecond.
    virtual bool LightsOnly() const { return false; }
};
