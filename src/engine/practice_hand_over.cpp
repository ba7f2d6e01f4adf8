#include "engine/practice_hand_over.h"

#include "engine/practice_queue.h"
#include "engine/timeline.h"

void PracticeHandOver::ChordDue(const Timeline& timeline, const Chord& chord, uint32_t elapsedMs) {
    PracticeEvent due;
    due.kind = PracticeEvent::ChordDue;
    due.clockMs = m_practiceClockBase + elapsedMs;
    due.songMs = timeline[chord.index[0]].time;
    due.count = static_cast<uint8_t>(chord.count);
    for (int s = 0; s < chord.count; ++s) {
        due.keys[static_cast<size_t>(s)] = timeline[chord.index[s]].data1 & 0x7F;
    }
    m_practiceQueue->Push(due);
    m_awaitedOpen = 1;
}

void PracticeHandOver::ChordDone(uint32_t elapsedMs) {
    if (!m_awaitedOpen) {
        return;
    }
    m_awaitedOpen = 0;
    PracticeEvent done;
    done.kind = PracticeEvent::ChordDone;
    done.clockMs = m_practiceClockBase + elapsedMs;
    m_practiceQueue->Push(done);
}

// The clock reading at which the note was due at the speed: the song reached newTime at the
// elapsed time of this advance, and the note lay newTime - e.time of song time before it.
void PracticeHandOver::PracticeNote(const PerformanceEvent& e, uint32_t newTime, uint32_t elapsedMs,
                                    int32_t speedPercent) {
    PracticeEvent note;
    note.kind = PracticeEvent::PracticeNote;
    note.key = e.data1 & 0x7F;
    note.songMs = e.time;
    const uint32_t speed = speedPercent > 0 ? static_cast<uint32_t>(speedPercent) : 100u;
    const uint32_t behind = static_cast<uint32_t>(uint64_t{newTime - e.time} * 100u / speed);
    note.clockMs = m_practiceClockBase + elapsedMs - behind;
    m_practiceQueue->Push(note);
}
