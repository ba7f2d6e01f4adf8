#pragma once

#include <cstdint>

#include "engine/chord.h"
#include "engine/performance_event.h"

class PracticeQueue;
class Timeline;

// Hands the lesson's chords and the silenced practice notes over for scoring, each stamped
// with the clock reading at which it happened. Guarded by the window's play lock.
class PracticeHandOver {
  public:
    // Where they go (null: nowhere).
    void SetQueue(PracticeQueue* queue) { m_practiceQueue = queue; }
    bool Active() const { return m_practiceQueue != nullptr; }
    // The clock reading at which the elapsed time of the advances was 0.
    void SetClockBase(uint32_t clockMs) { m_practiceClockBase = clockMs; }

    // The lesson began to wait for chord at elapsed time elapsedMs.
    void ChordDue(const Timeline& timeline, const Chord& chord, uint32_t elapsedMs);
    // The player completed the awaited chord, if one was handed over.
    void ChordDone(uint32_t elapsedMs);
    // A practice note the mode silences came due; the advance at elapsedMs reached newTime.
    void PracticeNote(const PerformanceEvent& e, uint32_t newTime, uint32_t elapsedMs,
                      int32_t speedPercent);
    // The awaited chord is dropped without being completed (the lesson stopped waiting).
    void DropAwaited() { m_awaitedOpen = 0; }

  private:
    PracticeQueue* m_practiceQueue = nullptr;
    uint32_t m_practiceClockBase = 0;
    uint8_t m_awaitedOpen = 0;  // an awaited chord was handed over and not yet completed
};
