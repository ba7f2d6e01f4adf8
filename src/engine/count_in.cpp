#include "engine/count_in.h"

#include <algorithm>

#include "engine/click_track.h"
#include "smf/meter_map.h"

CountInPlan PlanCountIn(const smf::MeterMap& meter, uint32_t placeMs, int bars, int speedPercent) {
    CountInPlan plan;
    if (bars <= 0 || speedPercent <= 0) {
        return plan;
    }
    const smf::TempoMap& tempo = meter.Tempo();
    const uint32_t placeTick = tempo.MsToTick(placeMs);
    const uint32_t bar = meter.AtTick(placeTick).bar;
    const uint64_t beatTicks = meter.BeatTicks(bar);
    // One beat in microseconds at the tempo in force at the place.
    uint64_t beatUs;
    if (tempo.IsSmpte()) {
        const uint64_t end = std::min<uint64_t>(uint64_t{placeTick} + beatTicks, UINT32_MAX);
        beatUs =
            uint64_t{tempo.TickToMs(static_cast<uint32_t>(end)) - tempo.TickToMs(placeTick)} * 1000;
    } else {
        uint64_t microsPerQuarter = 500000;
        for (const smf::TempoChange& change : tempo.Changes()) {
            if (change.tick > placeTick) {
                break;
            }
            microsPerQuarter = change.microsPerQuarter;
        }
        beatUs = beatTicks * microsPerQuarter / std::max<uint16_t>(tempo.Division(), 1);
    }
    const uint32_t beatsPerBar = std::max<uint32_t>(meter.BeatsInBar(bar), 1);
    // The bar at the place may be cut short by a meter change: the count-in counts a full bar.
    const uint32_t beats = beatsPerBar * static_cast<uint32_t>(std::min(bars, kMaxCountInBars));
    const auto clockMs = [&](uint64_t beat) {
        return static_cast<uint32_t>(
            (beat * beatUs * 100 / static_cast<uint64_t>(speedPercent) + 500) / 1000);
    };
    for (uint32_t b = 0; b < beats; ++b) {
        plan.clicks.push_back({clockMs(b), b % beatsPerBar == 0});
    }
    plan.lengthMs = std::max<uint32_t>(clockMs(beats), 1);
    return plan;
}

void CountIn::Begin(CountInPlan plan, uint32_t nowMs) {
    m_plan = std::move(plan);
    m_startMs = nowMs;
    m_next = 0;
    m_active = !m_plan.clicks.empty();
    m_done = !m_active;
}

std::vector<CountIn::Message> CountIn::Tick(uint32_t nowMs) {
    std::vector<Message> out;
    if (!m_active) {
        return out;
    }
    const uint32_t elapsed = nowMs - m_startMs;
    const uint8_t off = 0x80 | ClickTrack::kChannel;
    const uint8_t on = 0x90 | ClickTrack::kChannel;
    for (; m_next < m_plan.clicks.size() && m_plan.clicks[m_next].atMs <= elapsed; ++m_next) {
        if (m_sounding >= 0) {
            out.push_back({off, static_cast<uint8_t>(m_sounding), 0});
        }
        const bool accent = m_plan.clicks[m_next].accent;
        const uint8_t key = accent ? ClickTrack::kAccentKey : ClickTrack::kBeatKey;
        out.push_back({on, key, accent ? ClickTrack::kAccentVelocity : ClickTrack::kBeatVelocity});
        m_sounding = key;
    }
    if (elapsed >= m_plan.lengthMs) {
        if (m_sounding >= 0) {
            out.push_back({off, static_cast<uint8_t>(m_sounding), 0});
            m_sounding = -1;
        }
        m_active = false;
        m_done = true;
    }
    return out;
}

uint32_t CountIn::NextDueMs(const TickMoment& tick) const {
    if (!m_active) {
        return kNever;
    }
    const uint32_t due =
        m_next < m_plan.clicks.size() ? m_plan.clicks[m_next].atMs : m_plan.lengthMs;
    const uint32_t elapsed = tick.nowMs - m_startMs;
    return due > elapsed ? due - elapsed : 1;
}
