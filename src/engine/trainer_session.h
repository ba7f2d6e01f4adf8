#pragma once

#include <functional>
#include <optional>

#include "engine/passage.h"
#include "engine/play_mode.h"
#include "engine/practice_run.h"
#include "engine/tempo_trainer.h"

class PlaySession;

// The tempo trainer at work on a play session: each pass of the loop is played as a start of its
// own at the trainer's speed (so that it is scored on its own, at one speed), and the next begins
// once whoever collects the scored runs hands the pass over. Only the lesson and the accompaniment
// are scored, so only they train. User-interface thread (or the command-line tool's main one).
class TrainerSession {
  public:
    // Starts a pass of the song in the mode at the speed; false when nothing started.
    using PassStarter = std::function<bool(PlayMode mode, int speedPercent)>;

    TrainerSession(PlaySession& session, PassStarter startPass)
        : m_session(session), m_startPass(std::move(startPass)) {}

    // Starts the first pass; false (nothing started) for a plan TrainerPlanError refuses, a mode
    // that is not scored or no song to play.
    bool Start(const TrainerPlan& plan, LoopSpan loop, PlayMode mode);
    // Training ends; the loop stays, with no limit of passes.
    void Stop();
    bool Active() const { return m_active; }
    // The trainer of the training under way or ended last; none before the first.
    const TempoTrainer* Trainer() const { return m_trainer ? &*m_trainer : nullptr; }

    // A run scored. A whole pass of the training moves the speed and starts the next pass (none
    // after the goal); a pass the learner stopped short, or played nothing in, ends the training.
    // Anything else is not the trainer's and is ignored.
    std::optional<TempoTrainer::Outcome> OnRunScored(const PracticeRun& run,
                                                     const PracticeSummary& summary);

  private:
    bool StartPass();

    PlaySession& m_session;
    PassStarter m_startPass;
    std::optional<TempoTrainer> m_trainer;
    LoopSpan m_loop;
    PlayMode m_mode = PlayMode::MyPaceLesson;
    bool m_active = false;
};
