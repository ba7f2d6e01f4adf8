#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "engine/practice_queue.h"
#include "engine/practice_run.h"

// Turns what the clock thread and the input callback handed over into scored runs. Runs on the
// thread that collects them (the window's, or pelorvane-play's main thread), never on the clock
// or input thread.
class PracticeScorer {
  public:
    // A press counts for a practice note this many ms before or after its ideal time.
    static constexpr uint32_t kMatchWindow = 150;

    void Feed(const std::vector<PracticeEvent>& events);
    // Runs that have ended, scored, oldest first. A run is kept until kMatchWindow ms past its
    // end, since a press that late may still answer its last notes; flush takes every ended
    // run (and ends the one playing, at nowMs) without waiting.
    std::vector<PracticeRun> TakeFinished(uint32_t nowMs, bool flush = false);
    // A run is playing, or has ended and waits to be taken.
    bool HasRuns() const { return !m_runs.empty(); }

  private:
    struct Press {
        uint32_t clockMs;
        uint8_t key;
        bool used;
    };
    struct DueChord {
        PracticeEvent due;
        uint32_t doneMs;
        bool done;
    };
    struct Note {
        uint32_t idealMs;
        uint32_t songMs;
        uint8_t key;
    };
    struct OpenRun {
        PracticeRun run;
        bool ended = false;
        uint32_t endClockMs = 0;
        std::vector<DueChord> chords;
        std::vector<Note> notes;
    };

    OpenRun* Current();
    void StartRun(const PracticeEvent& start, uint32_t songMs);
    void EndRun(uint32_t clockMs, uint32_t songMs);
    PracticeRun Score(OpenRun& open);
    void ScoreLesson(OpenRun& open, PracticeRun& run);
    void ScoreAccompaniment(OpenRun& open, PracticeRun& run);
    void DropOldPresses(uint32_t nowMs);
    void SortPresses();
    std::vector<Press>::iterator FirstPressFrom(uint32_t clockMs);

    std::deque<OpenRun> m_runs;  // ended runs waiting for late presses, then the one playing
    std::vector<Press> m_presses;
};
