// Keeping time: the metronome, the count-in before a start and before each pass of a loop.

#include <array>

#include "engine/performance.h"
#include "engine/play_session.h"
#include "engine/practice_queue.h"
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

bool PlaySession::BeginPassCountIn(Performance* p, uint32_t now, uint32_t reachedMs) {
    const int bars = m_countInBars.load();
    if (!m_loopCountIn.load() || bars == 0 || !p->Meter()) {
        return false;
    }
    // The pass just played is a run of its own; the next begins once the count-in is over, so
    // nothing played meanwhile counts for either.
    PracticeEvent end;
    end.kind = PracticeEvent::RunEnd;
    end.clockMs = now;
    end.songMs = reachedMs;
    m_practice.Queue().Push(end);
    m_countIn.Begin(PlanCountIn(*p->Meter(), p->SongTime(), bars, p->GetPlayer().SpeedPercent()),
                    now);
    p->PreLightPendingChord();
    PassCountInTick(p, now);
    return true;
}

bool PlaySession::PassCountInTick(Performance* p, uint32_t now) {
    if (CountInTick(p, now)) {
        return true;
    }
    // The milliseconds counted belong to no pass: the song goes on from A as after a jump.
    p->CatchUpElapsed(now - m_playStartTime);
    m_passage.TakeJump();
    HandOverRunStart(now);
    return false;
}

clock_schedule::NextTick PlaySession::PlanCountInTick(const Performance* p, uint32_t now) const {
    const std::array<const TimeSource*, 2> sources = {
        &m_countIn, p && p->HasOutput() ? &p->GetKeyLights() : nullptr};
    return clock_schedule::PlanNextTick(sources, Playing, now);
}
