#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/passage.h"
#include "engine/play_mode.h"
#include "engine/practice_choice.h"
#include "engine/take.h"

namespace smf {
class MeterMap;
}

// One run of practice, from its start to its stop or the end (each pass of a loop is a run of
// its own), scored.
struct PracticeRun {
    struct ChordWait {  // my-pace lesson: one awaited chord
        uint32_t songMs = 0;
        uint32_t waitMs = 0;  // from its due moment to its completion
        uint32_t wrong = 0;   // other keys pressed while it was awaited
    };
    struct NoteScore {  // accompaniment: one practice note
        uint32_t songMs = 0;
        uint8_t key = 0;
        bool hit = false;
        int32_t errorMs = 0;  // press minus ideal time; 0 when missed
    };

    uint32_t song = 0;  // see PracticeLog::BeginSong
    std::string songPath;
    PlayMode mode = PlayMode::ModelPerformance;
    Hand hand = Hand::Both;
    uint16_t channels = 0;  // the channels practised, a bit each (see PracticeChoice)
    int splitKey = 60;      // where the song's channels played by one track divide into hands
    int speedPercent = 100;
    uint32_t startSongMs = 0;
    uint32_t endSongMs = 0;
    uint32_t startClockMs = 0;
    uint32_t durationMs = 0;
    std::vector<ChordWait> chords;
    std::vector<NoteScore> notes;
    uint32_t extra = 0;  // accompaniment: presses that matched no note
    Take take;           // what the player played in it
};

// The figures shown and stored for a run.
struct PracticeSummary {
    uint32_t firstBar = 1;
    uint32_t lastBar = 1;
    uint32_t notes = 0, hit = 0, missed = 0, extra = 0;
    uint32_t chords = 0, waitP50 = 0, wrong = 0;
    // 0-1. Accompaniment: hits among notes and extra presses; lesson: chords played without a
    // wrong key. Runs that are not scored have none.
    double accuracy = 0;
    bool scored = false;
    // Accompaniment: press timing error; lesson: waits. Median and interquartile range, ms.
    int32_t timingP50 = 0;
    int32_t timingSpread = 0;
};

PracticeSummary Summarize(const PracticeRun& run, const smf::MeterMap& meter);

// False for a run that holds nothing of the player: a lesson or an accompaniment in which no key
// was pressed, or a run stopped before the song moved. Such a run is neither shown nor kept.
bool AnythingPlayed(const PracticeRun& run);

// The bars that held the player back most: by the time spent waiting in them (lesson) or the
// notes missed in them (accompaniment), most first; at most `count`, only bars with any. A run
// without a wrong key or a missed note has none: nothing there needs practising again.
std::vector<uint32_t> HardestBars(const PracticeRun& run, const smf::MeterMap& meter,
                                  size_t count = 3);

// The loop that practises a bar: the bar with the one before and the one after it.
LoopSpan LoopAroundBar(const smf::MeterMap& meter, uint32_t bar);

const char* PlayModeName(PlayMode mode);  // as pelorvane-play --mode names it
const char* HandName(Hand hand);          // as pelorvane-play --hand names it
