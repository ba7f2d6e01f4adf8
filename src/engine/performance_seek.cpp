#include "engine/performance_seek.h"

#include <algorithm>
#include <vector>

#include "engine/performance.h"

void PerformanceSeek::StopNotes() {
    Performance& p = m_performance;
    const Timeline& timeline = p.GetTimeline();
    const Lesson& lesson = p.GetLesson();
    const uint32_t cursor = p.GetPlayer().Cursor();
    NoteSet sounding;
    p.Prepared().Seek().SoundingBefore(timeline.Events(), cursor, sounding);
    // The lesson sends a chord, and the note-offs before it, ahead of their turn.
    const uint32_t aheadEnd = std::min<uint32_t>(lesson.ChordSearchFrom(), timeline.Size());
    for (uint32_t i = cursor; i < aheadEnd; ++i) {
        if (lesson.SentAhead(i)) {
            NoteOnOff(sounding, timeline[i]);
        }
    }
    for (uint8_t ch = 0; ch < 16; ++ch) {
        if (sounding[ch].none()) {
            continue;
        }
        PerformanceEvent e;
        e.channel = ch;
        for (uint8_t key = 0; key < 128; ++key) {
            if (sounding[ch].test(key)) {
                e.status = 0x80;
                e.data1 = key;
                p.SendEvent(e);
            }
        }
        e.status = 0xB0;
        e.data1 = 123;
        e.data2 = 0;
        p.SendEvent(e);
    }
}

void PerformanceSeek::JumpTo(uint32_t songMs, bool sendState) {
    Performance& p = m_performance;
    const Timeline& timeline = p.GetTimeline();
    const uint32_t position = SeekIndex::PositionAt(timeline.Events(), songMs);
    if (sendState) {
        StopNotes();
    }
    p.MoveTo(position, songMs);

    if (sendState) {
        std::vector<PerformanceEvent> state;
        p.Prepared().Seek().StateBefore(timeline.Events(), position, state);
        for (const PerformanceEvent& e : state) {
            // Volume goes through the mode's silencing, as it does when played.
            p.SendState(e);
        }
    }
    p.FindNextChord();
}
