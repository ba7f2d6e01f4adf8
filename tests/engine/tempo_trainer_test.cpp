// The tempo trainer: its rules on their own, then a loop trained through the window core by a
// player who plays each awaited chord, cleanly or with a wrong key beside it.

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/trainer_session.h"
#include "smf/meter_map.h"

namespace {

using Outcome = TempoTrainer::Outcome;

TEST(TempoTrainerTest, RaisesLowersAndFinishesByTheThresholds) {
    TempoTrainer trainer({60, 15, 100, 90, 70});
    EXPECT_EQ(trainer.AfterPass(0.90), Outcome::Faster);  // the threshold itself is good enough
    EXPECT_EQ(trainer.Speed(), 75);
    EXPECT_EQ(trainer.AfterPass(0.8999), Outcome::Same);
    EXPECT_EQ(trainer.AfterPass(0.6999), Outcome::Slower);
    EXPECT_EQ(trainer.Speed(), 60);
    EXPECT_EQ(trainer.AfterPass(1.0), Outcome::Faster);
    EXPECT_EQ(trainer.AfterPass(1.0), Outcome::Faster);
    EXPECT_EQ(trainer.AfterPass(1.0), Outcome::Faster);
    EXPECT_EQ(trainer.Speed(), 100);  // the last step stops at the goal
    EXPECT_FALSE(trainer.Finished());
    EXPECT_EQ(trainer.AfterPass(0.95), Outcome::Reached);
    EXPECT_TRUE(trainer.Finished());
    EXPECT_EQ(trainer.Reached(), 100);
    EXPECT_EQ(trainer.Passes().size(), 7u);
    EXPECT_EQ(trainer.Passes()[2].speed, 75);

    // Never slower than the slowest speed there is.
    TempoTrainer slow({35, 10, 50, 90, 70});
    EXPECT_EQ(slow.AfterPass(0), Outcome::Same);
    EXPECT_EQ(slow.Speed(), 35);

    EXPECT_EQ(TrainerPlanError({60, 5, 100, 90, 70}), "");
    EXPECT_EQ(TrainerPlanError({60, 5, 60, 90, 70}), "");
    for (const TrainerPlan bad :
         {TrainerPlan{25, 5, 100}, TrainerPlan{60, 5, 155}, TrainerPlan{62, 5, 100},
          TrainerPlan{60, 0, 100}, TrainerPlan{60, 7, 100}, TrainerPlan{60, 55, 100},
          TrainerPlan{100, 5, 60}, TrainerPlan{60, 5, 100, 60, 70}}) {
        EXPECT_NE(TrainerPlanError(bad), "") << bad.start << " " << bad.step << " " << bad.goal;
    }
}

// Chords of one key on the practice channel every 500 ms.
SmfWriter ChordsSong() {
    SmfWriter w;
    for (uint32_t t = 0; t < 6000; t += 500) {
        w.Note(t, 0, 60 + static_cast<int>(t / 500 % 12), 300);
    }
    return w;
}

class TrainerSessionTest : public CoreFixture {
  protected:
    Performance& P() { return *PerformanceOf(*core); }
    // Passes start as the window starts them: at an exact speed, with the selected song.
    TrainerSession Session() {
        return TrainerSession(core->Session(), [this](PlayMode mode, int speedPercent) {
            core->SetSpeedPercent(speedPercent);
            core->StartPlay(mode);
            return core->CurrentPlayState() != Stopped;
        });
    }

    // Plays until the core stops, pressing each awaited chord (with a key of no chord first when
    // sloppy), then hands the scored runs to the session.
    void PlayPass(TrainerSession& session, bool sloppy, std::vector<int>& speeds) {
        for (int guard = 0; guard < 20000 && core->CurrentPlayState() != Stopped; ++guard) {
            AdvanceAndTick(1);
            if (core->CurrentPlayState() == Playing && P().Waiting()) {
                const Chord& awaited = P().GetLesson().AwaitedChord();
                const int key = P().GetTimeline().Events()[awaited.index[0]].data1;
                if (sloppy) {
                    core->FromInput(Msg(0x90, key + 13, 90));
                    core->FromInput(Msg(0x80, key + 13, 0));
                    AdvanceAndTick(1);
                }
                core->FromInput(Msg(0x90, key, 100));
                core->FromInput(Msg(0x80, key, 0));
            }
        }
        ASSERT_EQ(core->CurrentPlayState(), Stopped);
        for (const PracticeRun& run : core->Practice().Collect(NowMs(), true)) {
            speeds.push_back(run.speedPercent);
            session.OnRunScored(run, Summarize(run, *core->Practice().MeterOf(run.song)));
        }
    }
};

TEST_F(TrainerSessionTest, EachPassIsScoredAtItsSpeedAndTheGoalEndsTheTraining) {
    core->AddLoadedSong(ChordsSong().Load(), 0b1);
    TrainerSession session = Session();
    EXPECT_FALSE(session.Start({60, 20, 100}, {1000, 3000}, PlayMode::ModelPerformance));
    EXPECT_FALSE(session.Start({100, 20, 60}, {1000, 3000}, PlayMode::MyPaceLesson));
    ASSERT_TRUE(session.Start({60, 20, 100}, {1000, 3000}, PlayMode::MyPaceLesson));

    std::vector<int> speeds;
    for (const bool sloppy : {false, true, false, false, false}) {
        ASSERT_TRUE(session.Active());
        PlayPass(session, sloppy, speeds);
    }
    EXPECT_EQ(speeds, (std::vector<int>{60, 80, 60, 80, 100}));
    EXPECT_FALSE(session.Active());
    EXPECT_TRUE(session.Trainer()->Finished());
    EXPECT_EQ(session.Trainer()->Reached(), 100);
    EXPECT_EQ(session.Trainer()->Passes()[1].accuracy, 0.0);
    // Training over, the loop plays on as an ordinary loop.
    EXPECT_EQ(core->Loop(), (LoopSpan{1000, 3000}));
    core->StartPlay(PlayMode::MyPaceLesson);
    EXPECT_NE(core->CurrentPlayState(), Stopped);
}

TEST_F(TrainerSessionTest, AStopInsideAPassOrAPassLeftUnplayedEndsTheTraining) {
    core->AddLoadedSong(ChordsSong().Load(), 0b1);
    TrainerSession session = Session();
    ASSERT_TRUE(session.Start({60, 20, 100}, {1000, 3000}, PlayMode::MyPaceLesson));
    TickEveryMs(300);
    core->FromInput(Msg(0x90, 62, 100));
    TickEveryMs(300);
    core->StopPlay();
    for (const PracticeRun& run : core->Practice().Collect(NowMs(), true)) {
        EXPECT_FALSE(session.OnRunScored(run, Summarize(run, *core->Practice().MeterOf(run.song))));
    }
    EXPECT_FALSE(session.Active());
    EXPECT_EQ(core->CurrentPlayState(), Stopped);

    // A whole pass of the accompaniment with no key pressed: nobody is practising any more.
    ASSERT_TRUE(session.Start({60, 20, 100}, {1000, 3000}, PlayMode::Accompaniment));
    for (int guard = 0; guard < 20000 && core->CurrentPlayState() != Stopped; ++guard) {
        AdvanceAndTick(1);
    }
    for (const PracticeRun& run : core->Practice().Collect(NowMs(), true)) {
        EXPECT_EQ(run.endSongMs, 2999u);
        EXPECT_FALSE(session.OnRunScored(run, Summarize(run, *core->Practice().MeterOf(run.song))));
    }
    EXPECT_FALSE(session.Active());
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
}

}  // namespace
