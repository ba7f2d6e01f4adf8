#include "engine/trainer_session.h"

#include "engine/window_core.h"

bool TrainerSession::Start(const TrainerPlan& plan, LoopSpan loop, PlayMode mode) {
    if (!TrainerPlanError(plan).empty() || loop.b <= loop.a + 1 ||
        (mode != PlayMode::MyPaceLesson && mode != PlayMode::Accompaniment)) {
        return false;
    }
    m_core.StopPlay();
    m_trainer.emplace(plan);
    m_loop = loop;
    m_mode = mode;
    m_active = StartPass();
    return m_active;
}

void TrainerSession::Stop() {
    if (!m_active) {
        return;
    }
    m_active = false;
    m_core.SetLoop(m_loop);
}

bool TrainerSession::StartPass() {
    m_core.SetSpeedPercent(m_trainer->Speed());
    // One pass a start: the core stops at the loop's end, and each pass is a run of its own.
    m_core.SetLoop(m_loop, 1);
    m_core.StartPlay(m_mode);
    return m_core.CurrentPlayState() != Stopped;
}

std::optional<TempoTrainer::Outcome> TrainerSession::OnRunScored(const PracticeRun& run,
                                                                 const PracticeSummary& summary) {
    if (!m_active || !summary.scored || run.mode != m_mode ||
        run.speedPercent != m_trainer->Speed() || run.startSongMs < m_loop.a ||
        run.startSongMs >= m_loop.b) {
        return std::nullopt;
    }
    // Song time stops a millisecond short of B at the end of a pass.
    if (run.endSongMs + 1 < m_loop.b) {
        Stop();
        return std::nullopt;
    }
    const TempoTrainer::Outcome outcome = m_trainer->AfterPass(summary.accuracy);
    if (outcome == TempoTrainer::Outcome::Reached) {
        Stop();
        return outcome;
    }
    if (m_core.CurrentPlayState() == Stopped) {
        m_active = StartPass();
    }
    return outcome;
}
