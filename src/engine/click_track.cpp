#include "engine/click_track.h"

#include <algorithm>

#include "engine/lesson.h"
#include "engine/player.h"
#include "smf/meter_map.h"

void ClickTrack::Build(const smf::MeterMap& meter) {
    m_beats.clear();
    for (uint32_t bar = 1; bar <= meter.BarCount(); ++bar) {
        const uint32_t beats = meter.BeatsInBar(bar);
        for (uint32_t beat = 1; beat <= beats; ++beat) {
            const uint32_t ms = meter.BeatMs(bar, beat);
            // A bar cut short by a new meter ends where the next one starts.
            if (bar < meter.BarCount() && ms >= meter.BarStartMs(bar + 1)) {
                break;
            }
            if (!m_beats.empty() && ms <= m_beats.back().ms) {
                continue;  // beats too short for a millisecond of their own
            }
            m_beats.push_back({ms, beat == 1});
        }
    }
    m_next = 0;
}

std::vector<ClickTrack::Message> ClickTrack::SetOn(bool on) {
    m_on = on;
    std::vector<Message> out;
    if (!on && m_sounding >= 0) {
        out.push_back({static_cast<uint8_t>(0x80 | kChannel), static_cast<uint8_t>(m_sounding), 0});
        m_sounding = -1;
    }
    return out;
}

void ClickTrack::MoveTo(uint32_t songMs) {
    m_next =
        static_cast<size_t>(std::lower_bound(m_beats.begin(), m_beats.end(), songMs,
                                             [](const Beat& b, uint32_t ms) { return b.ms < ms; }) -
                            m_beats.begin());
}

std::vector<ClickTrack::Message> ClickTrack::ClickUpTo(uint32_t songMs) {
    std::vector<Message> out;
    for (; m_next < m_beats.size() && m_beats[m_next].ms <= songMs; ++m_next) {
        if (!m_on) {
            continue;
        }
        if (m_sounding >= 0) {
            out.push_back(
                {static_cast<uint8_t>(0x80 | kChannel), static_cast<uint8_t>(m_sounding), 0});
        }
        const bool accent = m_beats[m_next].accent;
        const uint8_t key = accent ? kAccentKey : kBeatKey;
        out.push_back(
            {static_cast<uint8_t>(0x90 | kChannel), key, accent ? kAccentVelocity : kBeatVelocity});
        m_sounding = key;
    }
    return out;
}

uint32_t ClickTrack::NextDueMs(const TickMoment& tick) const {
    if (!m_on || !tick.playing || m_next >= m_beats.size() || m_lesson.Waiting()) {
        return kNever;
    }
    const uint32_t beat = m_beats[m_next].ms;
    // Song time stops short of a loop's end: a beat there is never reached.
    if (beat > m_player.SongTimeLimit()) {
        return kNever;
    }
    return m_player.ClockMsUntil(beat);
}
