// Keeping time: the metronome and the count-in before a start.

#include <array>

#include "engine/performance.h"
#include "engine/play_session.h"
#include "platform/clock.h"

void PlaySession::SetMetronome(bool on) {
    m_metronome.store(on);
    CheckedLock lock(m_playLock);
    if (m_pPerformance) {
        m_pPerformance->SetMetronome(on);
    }
    WakeClockThread();
}

bool PlaySession::SetCountInBars(int bars) {
    if (bars < 0 || bars > kMaxCountInBars) {
        return false;
    }
    m_countInBars.store(bars);
    return true;
}

bool PlaySession::CountInTick(Performance* p, uint32_t now) {
    if (!p || m_countIn.Done()) {
        return false;
    }
    if (!m_countIn.Active()) {
        const int bars = m_countInBars.load();
        if (bars == 0 || !p->Meter()) {
            return false;
        }
        m_countIn.Begin(
            PlanCountIn(*p->Meter(), p->SongTime(), bars, p->GetPlayer().SpeedPercent()), now);
        p->PreLightPendingChord();
    }
    const MidiOutBatch batch(m_hMidiOut);
    for (const CountIn::Message& m : m_countIn.Tick(now)) {
        if (m_hMidiOut && !m_hMidiOut->Gone()) {
            m_hMidiOut->SendShort(PackShortMessage(m.status, m.key, m.velocity));
        }
    }
    if (m_countIn.Active()) {
        return true;
    }
    // The song's own pre-light takes over from here.
    p->ClearPreLights();
    return false;
}

clock_schedule::NextTick PlaySession::PlanCountInTick(const Performance* p, uint32_t now) const {
    const std::array<const TimeSource*, 2> sources = {
        &m_countIn, p && p->HasOutput() ? &p->GetKeyLights() : nullptr};
    return clock_schedule::PlanNextTick(sources, Playing, now);
}
