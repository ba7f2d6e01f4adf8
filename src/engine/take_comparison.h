#pragma once

#include <cstdint>
#include <vector>

#include "engine/note_spans.h"
#include "engine/practice_choice.h"
#include "engine/take.h"

// A take set against the song's practised notes, note by note, for drawing one over the other.
struct TakeComparison {
    struct Played {
        enum Verdict : uint8_t { OnTime, Early, Late, Wrong };
        uint32_t start = 0;
        uint32_t end = 0;
        uint8_t key = 0;
        Verdict verdict = Wrong;
        int32_t offsetMs = 0;  // played minus the note's start; 0 for a wrong key
    };
    std::vector<Played> played;    // by start
    std::vector<NoteSpan> missed;  // practised notes within the take that no key answered
};

// A key answers a practised note of its key within this many ms of its start (as the scoring
// counts a press); within kOnTimeMs it is on time, beyond that early or late.
inline constexpr uint32_t kTakeMatchMs = 150;
inline constexpr uint32_t kOnTimeMs = 30;

// The notes of the practised parts are the ones a key can answer. Missed notes are looked for
// from the take's first event to its last.
TakeComparison CompareTake(const NoteSpans& song, PracticeChoice practised, const Take& take);
