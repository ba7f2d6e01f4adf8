#pragma once

#include <cstdint>

#include "engine/seek_index.h"

class Performance;

// Moves a performance to any song time as if it had been played from its start up to there:
// the notes that sound stop, the state the song has left on each channel by then is sent again
// (no note), and key lights, chords and the lesson go on from the new place, from the index of
// the prepared song.
class PerformanceSeek {
  public:
    explicit PerformanceSeek(Performance& performance) : m_performance(performance) {}

    // sendState false: only the place moves (before a start that sends it anyway, or with
    // nothing playing).
    void JumpTo(uint32_t songMs, bool sendState = true);
    // Ends every note of the song that the performance has left sounding: a note-off for each,
    // then All Notes Off on each channel that had one, for a device that counted a repeated
    // note twice.
    void StopNotes();

  private:
    Performance& m_performance;
};
