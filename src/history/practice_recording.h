#pragma once

#include <vector>

#include "engine/practice_run.h"
#include "history/stored_run.h"

class PracticeLog;
class PracticeDatabase;

// A run as it was recorded: the scored run, its figures, the bars that held the player back,
// and what the history keeps of it.
struct RecordedRun {
    PracticeRun run;
    PracticeSummary summary;
    std::vector<uint32_t> hardestBars;
    StoredRun stored;
    bool played = true;  // false: nothing of the player in it (AnythingPlayed)
    bool saved = false;
};

// Collects and scores the runs the log has finished by now (flush: every run, the one playing
// included), ready to store; not saved yet. Never on the clock or input thread.
std::vector<RecordedRun> CollectFinishedRuns(PracticeLog& log, bool flush);

// Collects the runs the log has finished by now (flush: every run, the one playing included),
// and stores each in the database, one transaction each. The thread that owns the database
// calls it; never the clock or input thread.
std::vector<RecordedRun> RecordFinishedRuns(PracticeLog& log, PracticeDatabase& db, bool flush);
