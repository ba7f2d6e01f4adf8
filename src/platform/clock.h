#pragma once

#include <chrono>
#include <cstdint>

// The program's millisecond clock: a steady clock truncated to 32 bits. It wraps after about
// 49 days, so callers only ever take unsigned differences of two readings.
uint32_t NowMs();

// The moment, on the steady clock, `into` past the turn of NowMs() to `value`; a value already
// reached gives the present. A test clock moves only when told, so for it the answer is a
// millisecond from now: whoever waits looks again soon, as if the clock ticked.
std::chrono::steady_clock::time_point SteadyTimeWhenClockShows(
    uint32_t value, std::chrono::microseconds into = std::chrono::microseconds(20));

// Tests replace the clock with one they move by hand. Passing nullptr restores the real clock.
// The function is called from any thread, so it must be safe to call concurrently.
using ClockSource = uint32_t (*)();
void SetClockSourceForTest(ClockSource source);

// A clock that only moves when told to; install it with ManualClock::Install().
class ManualClock {
public:
    static void Install();    // makes NowMs() read the manual value
    static void Uninstall();  // back to the real clock
    static void Set(uint32_t ms);
    static void Advance(uint32_t ms);
    static uint32_t Get();
};
