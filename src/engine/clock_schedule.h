#pragma once

#include <cstdint>

#include "engine/play_mode.h"

class Performance;

// When the playback clock has to look at the performance next. Between two moments that can
// change what is sent, a tick every millisecond would only move the song time on; the clock
// sleeps through those ticks instead and makes up for them when it wakes (CatchUpQuietTicks),
// so that the devices receive the same messages at the same clock milliseconds.
namespace clock_schedule {

// Longest planned sleep; a safety net should a wake-up ever go missing.
inline constexpr uint32_t kMaxSleepMs = 1000;

struct NextTick {
    uint32_t ms = 1;          // clock milliseconds from the tick just run, 1 to kMaxSleepMs
    bool lightsOnly = false;  // only key lights can change in that tick, no song event
};

// The next tick that can change what is sent, after the tick at clock value `now`: the next
// event or chord falling due at the current speed, a pre-light, a key light to bring up to date,
// the next turn of a flashing key's phase. Anything else that changes what is due (a command,
// the player's keys) has to wake the clock. With the play lock held.
NextTick PlanNextTick(const Performance* performance, PlayState state, uint32_t now);

// Advances a playing performance through `quietMs` milliseconds of clock that it slept through
// as ticks every millisecond would have: in steps the stall limit allows, at the speed of its
// last advance (`speedOfLastAdvance`) even when the speed has been changed since, which then
// takes effect from the next advance, as it would have. Nothing becomes due in a quiet
// millisecond, so nothing is sent. A lesson that waits is left alone: its clock steps count for
// nothing, and the keys it waits for are read by the next tick. With the play lock held.
void CatchUpQuietTicks(Performance& performance, uint32_t quietMs, int32_t speedOfLastAdvance);

}  // namespace clock_schedule
