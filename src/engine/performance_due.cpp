// When the song next changes what is sent by itself: its next event, the next chord coming due,
// or the next chord's pre-light beginning.

#include <algorithm>

#include "engine/performance.h"

bool Performance::ChordFullyPreLit() const {
    const Chord& chord = m_lesson.PendingChord();
    for (int s = 0; s < chord.count; ++s) {
        if (!m_lights.Key((*m_timeline)[chord.index[s]].data1).preLit) {
            return false;
        }
    }
    return true;
}

uint32_t Performance::NextDueMs(const TickMoment& tick) const {
    if (!tick.playing) {
        return kNever;
    }
    const Timeline& timeline = *m_timeline;
    const Chord& pending = m_lesson.PendingChord();
    const bool chord = pending.count > 0;
    const uint32_t chordTime = chord ? timeline[pending.index[0]].time : 0;
    const bool preLightPending = chord && m_lesson.PreLight() && !ChordFullyPreLit();
    if (Waiting()) {
        // The song time stands; each advance only pre-lights the next chord again.
        return preLightPending && InPreLightWindow(chordTime, m_player.SongTime()) ? 1 : kNever;
    }
    if (m_replay && m_replay->Holding(m_player.SongTime())) {
        // The learner's wait: the song stands until it is over.
        return std::max<uint32_t>(m_replay->ClockMsLeft(m_player.SpeedPercent()), 1);
    }
    // A loop's end: song time stops short of it and the loop goes back to its start there.
    const bool limited = m_player.SongTimeLimit() != Player::kNoLimit;
    if (m_player.Cursor() >= timeline.Size()) {
        return limited ? m_player.ClockMsUntil(m_player.SongTimeLimit()) : 1;
    }
    uint32_t target = std::min(timeline[m_player.Cursor()].time, m_player.SongTimeLimit());
    if (m_replay) {
        target = std::min(target, m_replay->NextSongMs());
    }
    if (chord) {
        target = std::min(target, chordTime);
        if (preLightPending) {
            target = std::min(target, PreLightFrom(chordTime));
        }
    }
    return m_player.ClockMsUntil(target);
}
