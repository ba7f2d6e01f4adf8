// The player: song time from clock time at the chosen speed, sending what has come due, and the
// settings of the play modes.

#include <algorithm>

#include "engine/performance.h"

void Performance::Rewind() {
    m_songTime = 0;
    m_lastElapsed = 0;
    m_playedTime = 0;
    m_cursor = 0;
    m_speedChanged = 0;
    m_speedBasePlayed = 0;
    m_speedBaseSongTime = 0;
    m_chord.count = 0;
    m_chordMask = 0;
    m_chordSearchFrom = 0;
    ClearBrightNotes();
    m_awaited.count = 0;
    m_waiting = 0;
    m_awaitedOpen = 0;

    ClearKeyLights();
    SendAllKeysDark();
    // Every key has just been sent dark, so that is what the keyboard shows.
    for (KeyLight& light : m_keyLights) {
        light.shown = 0;
    }
    m_lastLightTime = 0;

    for (PerformanceEvent& e : m_events) {
        e.sent = 0;
    }

    if (m_hOutput && m_spareChannel != 0) {
        SendShortRaw(0xB0, 0x07, 0x00);
    }
    FindNextChord();
}

bool Performance::IsSilenced(int channel) const {
    const bool practice = (m_practiceMask >> channel) & 1u;
    return (m_muteMode == MutePractice && practice) || (m_muteMode == MuteNonPractice && !practice);
}

void Performance::Advance(uint32_t elapsedMs) {
    if (elapsedMs <= m_lastElapsed) {
        return;
    }
    const uint32_t step = std::min(elapsedMs - m_lastElapsed, kMaxClockStep);
    m_lastElapsed = elapsedMs;

    uint32_t newTime = m_songTime;
    if (!m_waiting) {
        m_playedTime += step;
        if (m_speedChanged) {
            m_speedChanged = 0;
            m_speedBasePlayed = m_playedTime;
            m_speedBaseSongTime = m_songTime;
        }
        newTime =
            static_cast<uint32_t>(static_cast<uint32_t>((m_playedTime - m_speedBasePlayed) *
                                                        static_cast<uint32_t>(m_speedPercent)) /
                                      100u +
                                  m_speedBaseSongTime);
        newTime = std::min(newTime, m_songTimeLimit);
    }

    // Every chord whose time has come becomes due, in order, also when one step passes several
    // of them. In the lesson a chord is not made due while the one before it is still awaited;
    // it comes due in the advance in which the player finishes the earlier one.
    while (m_chord.count > 0) {
        if (m_waitForPlayer && UpdateWaiting()) {
            if (m_preLight) {
                PreLightChord(newTime);
            }
            break;
        }
        if (!CheckChordDue(newTime)) {
            break;
        }
        FindNextChord();
    }
    if (UpdateWaiting()) {
        m_songTime = newTime;
        return;
    }

    uint32_t i = m_cursor;
    const uint32_t end = static_cast<uint32_t>(m_events.size());
    for (; i < end && m_events[i].time <= newTime; ++i) {
        PerformanceEvent& e = m_events[i];
        if (m_noteOnObserver && e.IsNoteOn()) {
            m_noteOnObserver(m_observerData, e.channel, e.data1, e.data2, m_muted[e.channel] != 0);
        }
        if (m_practiceQueue && m_muteMode == MutePractice && IsPracticeNoteOn(e)) {
            HandOverPracticeNote(e, newTime);
        }
        if (e.sent) {
            e.sent = 0;
            continue;
        }
        PerformanceEvent copy = e;
        if (copy.status == 0xB0 && copy.data1 == 7) {
            m_volume[copy.channel] = copy.data2;
            if (IsSilenced(copy.channel)) {
                copy.data2 = 0;
                m_muted[copy.channel] = 1;
            }
        }
        SendEvent(copy);
        ReleaseBrightEvent(copy);
    }
    m_cursor = i;
    m_songTime = newTime;
}

void Performance::SetSpeedPercent(int percent) {
    m_speedPercent = percent;
    m_speedChanged = 1;
}

void Performance::SetMuteMode(MuteMode mode) {
    m_muteMode = mode;
    if (!m_hOutput) {
        return;
    }
    for (int ch = 0; ch < 16; ++ch) {
        if (m_spareChannel != 0 && ch == m_spareChannel) {
            continue;
        }
        const bool silenced = IsSilenced(ch);
        m_muted[ch] = silenced ? 1 : 0;
        PerformanceEvent volume;
        volume.status = 0xB0;
        volume.channel = static_cast<uint8_t>(ch);
        volume.data1 = 7;
        volume.data2 = silenced ? 0 : static_cast<uint8_t>(m_volume[ch] & 0xFF);
        SendEvent(volume);
    }
}

void Performance::SetPracticeChannel(int channel, bool on) {
    if (channel < 0 || channel > 15) {
        return;
    }
    const uint32_t bit = 1u << channel;
    if (((m_practiceMask & bit) != 0) == on) {
        return;
    }
    if (on) {
        m_practiceMask |= bit;
    } else {
        m_practiceMask &= ~bit;
    }
    if (m_muteMode != MuteNone) {
        SetMuteMode(m_muteMode);
    }
}

void Performance::SetWaitForPlayer(bool on) {
    m_waitForPlayer = on ? 1 : 0;
    if (!on) {
        m_awaited.count = 0;
        m_awaitedOpen = 0;
    }
}

void Performance::SetPreLight(bool on) {
    m_preLight = on ? 1 : 0;
    if (!on) {
        for (KeyLight& light : m_keyLights) {
            light.preLit = 0;
        }
    }
}

void Performance::SetNoteOnObserver(NoteOnObserver observer, void* data) {
    m_noteOnObserver = observer;
    m_observerData = data;
}
