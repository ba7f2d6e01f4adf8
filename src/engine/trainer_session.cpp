#include "engine/trainer_session.h"

#include "engine/play_session.h"

bool TrainerSession::Start(const TrainerPlan& plan, LoopSpan loop, PlayMode mode) {
    if (!TrainerPlanError(plan).empty() || loop.b <= loop.a + 1 ||
        (mode != PlayMode::MyPaceLesson && mode != PlayMode::Accompaniment)) {
        return false;
    }
    m_session.Stop();
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
    m_session.SetLoop(m_loop);
}

bool TrainerSession::StartPass() {
    // One pass a start: play stops at the loop's end, and each pass is a run of its own.
    m_session.SetLoop(m_loop, 1);
    return m_startPass(m_mode, m_trainer->Speed());
}

std::optional<TempoTrainer::Outcome> TrainerSession::OnRunScored(const PracticeRun& run,
                                                                 const PracticeSummary& summary) {
    if (!m_active || !summary.scored || run.mode != m_mode ||
        run.speedPercent != m_trainer->Speed() || run.startSongMs < m_loop.a ||
        run.startSongMs >= m_loop.b) {
        return std::nullopt;
    }
    // A pass stopped short, or one in which nothing was played: the learner has left off.
    // Song time stops a millisecond short of B at the end of a whole pass.
    if (run.endSongMs + 1 < m_loop.b || !AnythingPlayed(run)) {
        Stop();
        return std::nullopt;
    }
    const TempoTrainer::Outcome outcome = m_trainer->AfterPass(summary.accuracy);
    if (outcome == TempoTrainer::Outcome::Reached) {
        Stop();
        return outcome;
    }
    if (m_session.CurrentPlayState() == Stopped) {
        m_active = StartPass();
    }
    return outcome;
}
