#include "engine/performance_seek.h"

#include <algorithm>
#include <vector>

#include "engine/performance.h"

void PerformanceSeek::BuildIndex() {
    if (!m_indexBuilt) {
        const Performance& p = m_performance;
        m_index.Build(p.m_events, p.m_sysex, p.m_sysexBytes);
        m_indexBuilt = true;
    }
}

void PerformanceSeek::StopNotes() {
    Performance& p = m_performance;
    BuildIndex();
    NoteSet sounding;
    m_index.SoundingBefore(p.m_events, p.m_cursor, sounding);
    // The lesson sends a chord, and the note-offs before it, ahead of their turn.
    const uint32_t aheadEnd =
        std::min<uint32_t>(p.m_chordSearchFrom, static_cast<uint32_t>(p.m_events.size()));
    for (uint32_t i = p.m_cursor; i < aheadEnd; ++i) {
        if (p.m_events[i].sent) {
            NoteOnOff(sounding, p.m_events[i]);
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
    BuildIndex();
    const uint32_t position = SeekIndex::PositionAt(p.m_events, songMs);
    if (sendState) {
        StopNotes();
    }
    // What the lesson sent ahead of its turn lies between the cursor and the chord searched last.
    const uint32_t aheadEnd =
        std::min<uint32_t>(p.m_chordSearchFrom, static_cast<uint32_t>(p.m_events.size()));
    for (uint32_t i = p.m_cursor; i < aheadEnd; ++i) {
        p.m_events[i].sent = 0;
    }
    p.m_cursor = position;
    p.m_songTime = songMs;
    // Song time goes on from here at the speed as it is.
    p.m_speedBasePlayed = p.m_playedTime;
    p.m_speedBaseSongTime = songMs;
    p.m_speedChanged = 0;
    p.m_chord.count = 0;
    p.m_chordMask = 0;
    p.m_chordSearchFrom = position;
    p.m_awaited.count = 0;
    p.m_waiting = 0;
    p.m_awaitedOpen = 0;
    // Keys shown lit go dark with the next key-light update, unless the new place lights them.
    p.ClearKeyLights();
    p.ClearBrightNotes();

    if (sendState) {
        std::vector<PerformanceEvent> state;
        m_index.StateBefore(p.m_events, position, state);
        for (PerformanceEvent e : state) {
            // Volume goes through the mode's silencing, as it does when played.
            if (e.status == 0xB0 && e.data1 == 7) {
                p.m_volume[e.channel] = e.data2;
                if (p.IsSilenced(e.channel)) {
                    e.data2 = 0;
                    p.m_muted[e.channel] = 1;
                }
            }
            p.SendEvent(e);
        }
    }
    p.FindNextChord();
}
