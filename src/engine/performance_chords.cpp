// Chords of the practice channels: they light the keys in every mode, and in the lesson the
// song waits at each of them until the player has held its keys.

#include "engine/performance.h"

void Performance::FindNextChord() {
    m_lesson.FindNextChord(*m_song, m_player.Cursor(), m_player.Choice());
}

bool Performance::CheckChordDue(uint32_t newTime) {
    const Chord& chord = m_lesson.PendingChord();
    if (chord.count == 0) {
        return false;
    }
    if (m_lesson.PreLight()) {
        PreLightChord(newTime);
    }
    // Chords come due strictly in timeline order, so each one only has to have been reached;
    // one that a long step (or an eleventh note) left behind comes due at once instead of
    // blocking every chord after it.
    const uint32_t t = (*m_timeline)[chord.index[0]].time;
    if (t > newTime) {
        return false;
    }
    LightChord(chord);
    if (m_lesson.WaitForPlayer()) {
        HoldChord();
    }
    m_lesson.PassChord();
    return true;
}

void Performance::PreLightChord(uint32_t newTime) {
    const Chord& chord = m_lesson.PendingChord();
    if (chord.count == 0) {
        return;
    }
    const Timeline& timeline = *m_timeline;
    if (!InPreLightWindow(timeline[chord.index[0]].time, newTime)) {
        return;
    }
    for (int s = 0; s < chord.count; ++s) {
        m_lights.PreLight(timeline[chord.index[s]].data1);
    }
}

void Performance::PreLightPendingChord() {
    const Chord& chord = m_lesson.PendingChord();
    for (int s = 0; s < chord.count; ++s) {
        m_lights.PreLight((*m_timeline)[chord.index[s]].data1);
    }
}

void Performance::HoldChord() {
    m_lesson.AwaitChord();
    if (m_handOver.Active()) {
        HandOverChordDue();
    }
    const Chord& awaited = m_lesson.AwaitedChord();
    for (int s = 0; s < awaited.count; ++s) {
        SendNoteOffsAhead(awaited.index[s]);
        SendEvent((*m_timeline)[awaited.index[s]]);
        m_lesson.MarkSent(awaited.index[s]);
    }
}

// A chord sounds ahead of the events held back before it. A held-back note-off of the same key
// and channel must still come first, or it would cut the note just sounded when the player
// completes the chord. Note-offs behind an unsent note-on of that key end that note, not the
// one before, and keep their place.
void Performance::SendNoteOffsAhead(uint32_t noteOnIndex) {
    const Timeline& timeline = *m_timeline;
    const PerformanceEvent& on = timeline[noteOnIndex];
    for (uint32_t i = m_player.Cursor(); i < noteOnIndex; ++i) {
        const PerformanceEvent& e = timeline[i];
        if (e.IsSysex() || e.channel != on.channel || e.data1 != on.data1 ||
            m_lesson.SentAhead(i)) {
            continue;
        }
        if (e.IsNoteOn()) {
            return;
        }
        if (e.IsNoteOff()) {
            SendEvent(e);
            ReleaseBrightEvent(e);
            m_lesson.MarkSent(i);
        }
    }
}

bool Performance::UpdateWaiting() {
    const bool waiting = m_lesson.CrossOffHeld(*m_timeline, m_lights);
    if (!waiting) {
        m_handOver.ChordDone(m_player.LastElapsed());
    }
    return waiting;
}

void Performance::HandOverChordDue() {
    m_handOver.ChordDue(*m_timeline, m_lesson.AwaitedChord(), m_player.LastElapsed());
}

void Performance::HandOverPracticeNote(const PerformanceEvent& e, uint32_t newTime) {
    m_handOver.PracticeNote(e, newTime, m_player.LastElapsed(), m_player.SpeedPercent());
}

void Performance::RestartChordSearch() {
    ClearKeyLights();
    FindNextChord();
}
