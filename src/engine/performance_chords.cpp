// Chords of the practice channels: they light the keys in every mode, and in the lesson the
// song waits at each of them until the player has held its keys.

#include <algorithm>

#include "engine/performance.h"

void Performance::FindNextChord() {
    if (m_chord.count == 0 && m_chordMask == m_practiceMask) {
        return;
    }
    const uint32_t end = static_cast<uint32_t>(m_events.size());
    uint32_t i = std::max(m_chordSearchFrom, m_cursor);
    m_chordMask = m_practiceMask;
    m_chord.count = 0;
    while (i < end && !IsPracticeNoteOn(m_events[i])) {
        ++i;
    }
    if (i >= end) {
        return;
    }
    const uint32_t first = m_events[i].time;
    m_chord.index[0] = i;
    m_chord.count = 1;
    // A chord holds ten notes at most; an eleventh in the same window starts the next chord,
    // since the next search begins right after the last note taken here.
    for (++i; i < end && m_chord.count < Chord::kMaxNotes; ++i) {
        const PerformanceEvent& e = m_events[i];
        if (e.time - first > kChordWindow) {
            break;
        }
        if (IsPracticeNoteOn(e)) {
            m_chord.index[m_chord.count++] = i;
        }
    }
}

bool Performance::CheckChordDue(uint32_t newTime) {
    if (m_chord.count == 0) {
        return false;
    }
    if (m_preLight) {
        PreLightChord(newTime);
    }
    // Chords come due strictly in timeline order, so each one only has to have been reached;
    // one that a long step (or an eleventh note) left behind comes due at once instead of
    // blocking every chord after it.
    const uint32_t t = m_events[m_chord.index[0]].time;
    if (t > newTime) {
        return false;
    }
    LightChord(m_chord);
    if (m_waitForPlayer) {
        HoldChord();
    }
    m_chordSearchFrom = m_chord.index[m_chord.count - 1] + 1;
    return true;
}

void Performance::PreLightChord(uint32_t newTime) {
    if (m_chord.count == 0) {
        return;
    }
    const uint32_t t = m_events[m_chord.index[0]].time;
    const bool inWindow = newTime < t && (t < kPreLightLead || t - kPreLightLead <= newTime);
    if (!inWindow) {
        return;
    }
    for (int s = 0; s < m_chord.count; ++s) {
        m_keyLights[m_events[m_chord.index[s]].data1 & 0x7F].preLit = 1;
    }
}

void Performance::HoldChord() {
    m_awaited = m_chord;
    if (m_practiceQueue) {
        HandOverChordDue();
    }
    for (int s = 0; s < m_awaited.count; ++s) {
        PerformanceEvent& e = m_events[m_awaited.index[s]];
        SendNoteOffsAhead(m_awaited.index[s]);
        SendEvent(e);
        e.sent = 1;
    }
}

// A chord sounds ahead of the events held back before it. A held-back note-off of the same key
// and channel must still come first, or it would cut the note just sounded when the player
// completes the chord. Note-offs behind an unsent note-on of that key end that note, not the
// one before, and keep their place.
void Performance::SendNoteOffsAhead(uint32_t noteOnIndex) {
    const PerformanceEvent& on = m_events[noteOnIndex];
    for (uint32_t i = m_cursor; i < noteOnIndex; ++i) {
        PerformanceEvent& e = m_events[i];
        if (e.IsSysex() || e.channel != on.channel || e.data1 != on.data1 || e.sent) {
            continue;
        }
        if (e.IsNoteOn()) {
            return;
        }
        if (e.IsNoteOff()) {
            SendEvent(e);
            ReleaseBrightEvent(e);
            e.sent = 1;
        }
    }
}

bool Performance::UpdateWaiting() {
    bool waiting = false;
    for (int s = 0; s < m_awaited.count; ++s) {
        if (m_awaited.index[s] == Chord::kPlayed) {
            continue;
        }
        const uint8_t key = m_events[m_awaited.index[s]].data1 & 0x7F;
        if (KeyDown(key)) {
            m_keyLights[key].lit = 0;
            m_awaited.index[s] = Chord::kPlayed;
        } else {
            waiting = true;
        }
    }
    m_waiting = waiting ? 1 : 0;
    if (!waiting && m_awaitedOpen) {
        m_awaitedOpen = 0;
        PracticeEvent done;
        done.kind = PracticeEvent::ChordDone;
        done.clockMs = m_practiceClockBase + m_lastElapsed;
        m_practiceQueue->Push(done);
    }
    return waiting;
}

void Performance::HandOverChordDue() {
    PracticeEvent due;
    due.kind = PracticeEvent::ChordDue;
    due.clockMs = m_practiceClockBase + m_lastElapsed;
    due.songMs = m_events[m_awaited.index[0]].time;
    due.count = static_cast<uint8_t>(m_awaited.count);
    for (int s = 0; s < m_awaited.count; ++s) {
        due.keys[static_cast<size_t>(s)] = m_events[m_awaited.index[s]].data1 & 0x7F;
    }
    m_practiceQueue->Push(due);
    m_awaitedOpen = 1;
}

// The clock reading at which the note was due at the speed: the song reached newTime at the
// elapsed time of this advance, and the note lay newTime - e.time of song time before it.
void Performance::HandOverPracticeNote(const PerformanceEvent& e, uint32_t newTime) {
    PracticeEvent note;
    note.kind = PracticeEvent::PracticeNote;
    note.key = e.data1 & 0x7F;
    note.songMs = e.time;
    const uint32_t speed = m_speedPercent > 0 ? static_cast<uint32_t>(m_speedPercent) : 100u;
    const uint32_t behind = static_cast<uint32_t>(uint64_t{newTime - e.time} * 100u / speed);
    note.clockMs = m_practiceClockBase + m_lastElapsed - behind;
    m_practiceQueue->Push(note);
}

void Performance::RestartChordSearch() {
    ClearKeyLights();
    FindNextChord();
}
