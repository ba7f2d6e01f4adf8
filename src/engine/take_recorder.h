#pragma once

#include <cstdint>
#include <vector>

#include "engine/player_input.h"
#include "engine/practice_run.h"
#include "engine/take.h"

// Cuts the player's input stream into the takes of the runs: a run's take is what was played
// from its start to its end on the clock, at the song times the stream gives. Runs on the
// thread that collects the runs, never on the clock or input thread.
class TakeRecorder {
  public:
    void Feed(const std::vector<PlayerAction>& actions);
    // The take of a run: what was played from its start to its end on the clock, in song time
    // order. Keys still held at its end are let go there, a key let go that was pressed before
    // it is left out, and a pedal held down as it began starts the take held.
    Take TakeOf(const PracticeRun& run) const;
    // Forgets what was played before clockMs: no run left to cut can hold it.
    void ForgetBefore(uint32_t clockMs);

  private:
    std::vector<PlayerAction> m_actions;  // in the order pushed
    uint8_t m_pedalBefore = 0;            // the pedal's position before the first of them
};
