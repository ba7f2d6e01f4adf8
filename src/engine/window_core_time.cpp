// Keeping time: the metronome, the count-in before a start, and speeds finer than the slider's.

#include <array>

#include "engine/performance.h"
#include "engine/speed_percent.h"
#include "engine/window_core.h"
#include "platform/clock.h"

void CPelorvaneCore::SetMetronome(bool on) {
    m_metronome.store(on);
    CheckedLock lock(m_playLock);
    if (m_pPerformance) {
        m_pPerformance->SetMetronome(on);
    }
    WakeClockThread();
}

bool CPelorvaneCore::SetCountInBars(int bars) {
    if (bars < 0 || bars > kMaxCountInBars) {
        return false;
    }
    m_countInBars.store(bars);
    return true;
}

bool CPelorvaneCore::SetSpeedPercent(int percent) {
    if (!ValidSpeedPercent(percent)) {
        return false;
    }
    m_exactSpeed.store(percent);
    CheckedLock lock(m_playLock);
    if (m_pPerformance) {
        m_pPerformance->SetSpeedPercent(percent);
    }
    WakeClockThread();
    return true;
}

int CPelorvaneCore::ChosenSpeedPercent(int sliderPosition) const {
    const int exact = m_exactSpeed.load();
    return exact != 0 ? exact : SpeedPercentTable[ClampSpeedPosition(sliderPosition)];
}

bool CPelorvaneCore::CountInTick(Performance* p, uint32_t now) {
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

clock_schedule::NextTick CPelorvaneCore::PlanCountInTick(const Performance* p, uint32_t now) const {
    const std::array<const TimeSource*, 2> sources = {
        &m_countIn, p && p->HasOutput() ? &p->GetKeyLights() : nullptr};
    return clock_schedule::PlanNextTick(sources, Playing, now);
}
