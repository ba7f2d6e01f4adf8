#pragma once

#include <cstdint>
#include <span>

#include "engine/play_mode.h"
#include "engine/time_source.h"

// When the playback clock has to look at the performance next. Between two moments that can
// change what is sent, a tick every millisecond would only move the song time on; the clock
// sleeps through those ticks instead and the performance makes up for them when it wakes
// (Performance::AdvanceQuietly), so that the devices receive the same messages at the same
// clock milliseconds. What is due when is each time source's own answer; the plan only takes
// the earliest.
namespace clock_schedule {

// Longest planned sleep; a safety net should a wake-up ever go missing.
inline constexpr uint32_t kMaxSleepMs = 1000;

struct NextTick {
    uint32_t ms = 1;          // clock milliseconds from the tick just run, 1 to kMaxSleepMs
    bool lightsOnly = false;  // only key lights can change in that tick, no song event
};

// The next tick that can change what is sent, after the tick at clock value `now`: the earliest
// that any of `sources` (null entries are skipped) has something due. With the play lock held.
NextTick PlanNextTick(std::span<const TimeSource* const> sources, PlayState state, uint32_t now);

}  // namespace clock_schedule
