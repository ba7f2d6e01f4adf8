#include "engine/lesson.h"

#include <algorithm>

#include "engine/key_lights.h"
#include "engine/timeline.h"

void Lesson::Reset(uint32_t eventCount) {
    m_sent.assign((size_t{eventCount} + 63) / 64, 0);
    m_chord.count = 0;
    m_chordMask = 0;
    m_chordSearchFrom = 0;
    m_awaited.count = 0;
    m_waiting = 0;
}

void Lesson::Rewind() {
    m_chord.count = 0;
    m_chordMask = 0;
    m_chordSearchFrom = 0;
    m_awaited.count = 0;
    m_waiting = 0;
    std::fill(m_sent.begin(), m_sent.end(), 0);
}

void Lesson::FindNextChord(const Timeline& timeline, uint32_t cursor, uint32_t practiceMask) {
    if (m_chord.count == 0 && m_chordMask == practiceMask) {
        return;
    }
    const uint32_t end = timeline.Size();
    auto isPracticeNoteOn = [practiceMask](const PerformanceEvent& e) {
        return e.IsNoteOn() && (practiceMask >> e.channel & 1u);
    };
    uint32_t i = std::max(m_chordSearchFrom, cursor);
    m_chordMask = practiceMask;
    m_chord.count = 0;
    while (i < end && !isPracticeNoteOn(timeline[i])) {
        ++i;
    }
    if (i >= end) {
        return;
    }
    const uint32_t first = timeline[i].time;
    m_chord.index[0] = i;
    m_chord.count = 1;
    // A chord holds ten notes at most; an eleventh in the same window starts the next chord,
    // since the next search begins right after the last note taken here.
    for (++i; i < end && m_chord.count < Chord::kMaxNotes; ++i) {
        const PerformanceEvent& e = timeline[i];
        if (e.time - first > kChordWindow) {
            break;
        }
        if (isPracticeNoteOn(e)) {
            m_chord.index[m_chord.count++] = i;
        }
    }
}

bool Lesson::CrossOffHeld(const Timeline& timeline, KeyLights& lights) {
    bool waiting = false;
    for (int s = 0; s < m_awaited.count; ++s) {
        if (m_awaited.index[s] == Chord::kPlayed) {
            continue;
        }
        const uint8_t key = timeline[m_awaited.index[s]].data1 & 0x7F;
        if (KeyDown(key)) {
            lights.Unlight(key);
            m_awaited.index[s] = Chord::kPlayed;
        } else {
            waiting = true;
        }
    }
    m_waiting = waiting ? 1 : 0;
    return waiting;
}

void Lesson::RestartAt(uint32_t position) {
    m_chord.count = 0;
    m_chordMask = 0;
    m_chordSearchFrom = position;
    m_awaited.count = 0;
    m_waiting = 0;
}

void Lesson::SetWaitForPlayer(bool on) {
    m_waitForPlayer = on ? 1 : 0;
    if (!on) {
        m_awaited.count = 0;
    }
}

void Lesson::ForgetSentFrom(uint32_t position) {
    const uint32_t end =
        std::min<uint32_t>(m_chordSearchFrom, static_cast<uint32_t>(m_sent.size() * 64));
    for (uint32_t i = position; i < end; ++i) {
        m_sent[i >> 6] &= ~Bit(i);
    }
}
