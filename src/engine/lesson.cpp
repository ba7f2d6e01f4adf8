#include "engine/lesson.h"

#include <algorithm>
#include <utility>

#include "engine/key_lights.h"
#include "engine/prepared_song.h"
#include "engine/timeline.h"

void Lesson::Reset(uint32_t eventCount) {
    m_sent.assign((size_t{eventCount} + 63) / 64, 0);
    m_chord.count = 0;
    m_chordChoice = {};
    m_chordSearchFrom = 0;
    m_awaited.count = 0;
    m_waiting = 0;
}

void Lesson::Rewind() {
    m_chord.count = 0;
    m_chordChoice = {};
    m_chordSearchFrom = 0;
    m_awaited.count = 0;
    m_waiting = 0;
    std::fill(m_sent.begin(), m_sent.end(), 0);
    m_pressSongTime = MakeNoPresses();
}

void Lesson::FindNextChord(const PreparedSong& song, uint32_t cursor, PracticeChoice choice) {
    if (m_chord.count == 0 && m_chordChoice == choice) {
        return;
    }
    const Timeline& timeline = song.GetTimeline();
    const uint32_t end = timeline.Size();
    auto isPracticeNoteOn = [&song, choice](uint32_t index) {
        return song.IsPracticeNoteOn(index, choice);
    };
    uint32_t i = std::max(m_chordSearchFrom, cursor);
    m_chordChoice = choice;
    m_chord.count = 0;
    while (i < end && !isPracticeNoteOn(i)) {
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
        if (isPracticeNoteOn(i)) {
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
        const PerformanceEvent& note = timeline[m_awaited.index[s]];
        const uint8_t key = note.data1 & 0x7F;
        // A press is used once: a tap for one chord does not also play the next of that key.
        const uint32_t pressed = std::exchange(m_pressSongTime[key], kNoPress);
        const bool early = pressed != kNoPress && pressed + kEarlyPressWindow >= note.time;
        if (early || KeyDown(key)) {
            lights.Unlight(key);
            m_awaited.index[s] = Chord::kPlayed;
        } else {
            m_pressSongTime[key] = pressed;
            waiting = true;
        }
    }
    m_waiting = waiting ? 1 : 0;
    return waiting;
}

void Lesson::TakePresses(uint32_t songTime) {
    const uint32_t count = m_pressCount.load(std::memory_order_acquire);
    if (count == m_pressesTaken) {
        return;
    }
    m_pressesTaken = count;
    for (size_t key = 0; key < m_pressed.size(); ++key) {
        if (m_pressed[key].exchange(0, std::memory_order_relaxed)) {
            m_pressSongTime[key] = songTime;
        }
    }
}

void Lesson::RestartAt(uint32_t position) {
    m_pressSongTime = MakeNoPresses();
    m_chord.count = 0;
    m_chordChoice = {};
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
