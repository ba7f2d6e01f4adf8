// Scoring of practice runs through the window core, the in-memory MIDI service and the manual
// clock, with the player's keys scripted as a keyboard would send them.

#include <gtest/gtest.h>

#include <algorithm>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/practice_run.h"
#include "engine_test_support.h"
#include "platform/clock.h"
#include "smf/meter_map.h"

namespace {

class PracticeTest : public CoreFixture {
  protected:
    void Tick(uint32_t ms = 1) { TickEveryMs(ms); }
    // Starts play; the first tick sets the run's start, from which ideal times count.
    void Start(PlayMode mode) {
        core->StartPlay(mode);
        Tick();
        start = ManualClock::Get();
    }
    // Ticks until the clock reads start + ms.
    void At(uint32_t ms) {
        while (ManualClock::Get() < start + ms && core->CurrentPlayState() != Stopped) {
            Tick();
        }
    }
    void Key(int key, bool down) { core->FromInput(Msg(down ? 0x90 : 0x80, key, 100)); }
    void Press(int key) {
        Key(key, true);
        Key(key, false);
    }
    void PlayToEnd() {
        for (int guard = 0; guard < 100000 && core->CurrentPlayState() != Stopped; ++guard) {
            Tick();
        }
    }
    std::vector<PracticeRun> Runs() { return core->Practice().Collect(ManualClock::Get() + 1000); }
    PracticeSummary Summary(const PracticeRun& run) {
        return Summarize(run, *core->Practice().MeterOf(run.song));
    }

    uint32_t start = 0;
};

// Practice notes on channel 1 each second from 1 s, an accompanying note on channel 2.
SmfWriter SixNotes() {
    SmfWriter w;
    const int keys[] = {60, 62, 64, 65, 67, 69};
    for (int i = 0; i < 6; ++i) {
        w.Note(1000 + 1000 * static_cast<uint32_t>(i), 0, keys[i], 200);
    }
    w.Note(0, 1, 48, 6500);
    return w;
}

TEST_F(PracticeTest, AccompanimentMatchesPressesWithinTheWindowAroundEachIdealTime) {
    core->AddLoadedSong(SixNotes().Load(), 1);
    Start(PlayMode::Accompaniment);
    At(900);
    Press(60);  // 100 ms early: a hit
    At(2150);
    Press(62);  // 150 ms late: still a hit
    At(3151);
    Press(64);  // 151 ms late: outside, so an extra press and a miss
    // 65 at 4 s is not played at all.
    At(5000);
    Press(66);  // the wrong key on time: an extra press and a miss
    At(6000);
    Press(69);
    Press(69);  // the same key twice: the second press has no note left
    PlayToEnd();

    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    const PracticeRun& run = runs[0];
    EXPECT_EQ(run.mode, PlayMode::Accompaniment);
    EXPECT_EQ(run.songPath, "/songs/test0.mid");
    ASSERT_EQ(run.notes.size(), 6u);
    std::vector<int32_t> errors;
    std::vector<bool> hits;
    for (const PracticeRun::NoteScore& n : run.notes) {
        hits.push_back(n.hit);
        if (n.hit) {
            errors.push_back(n.errorMs);
        }
    }
    EXPECT_EQ(hits, (std::vector<bool>{true, true, false, false, false, true}));
    EXPECT_EQ(errors, (std::vector<int32_t>{-100, 150, 0}));
    EXPECT_EQ(run.extra, 3u);
    const PracticeSummary s = Summary(run);
    EXPECT_EQ(s.notes, 6u);
    EXPECT_EQ(s.hit, 3u);
    EXPECT_EQ(s.missed, 3u);
    EXPECT_DOUBLE_EQ(s.accuracy, 3.0 / 9.0);
    EXPECT_EQ(s.timingP50, 0);
    EXPECT_EQ(s.firstBar, 1u);
    EXPECT_EQ(s.lastBar, 4u);  // 2 s a bar; the song ends in its fourth bar
    // Each missed note weighs one in its bar; bar 2 (3 s) and bar 3 (4 s, 5 s) held the player.
    EXPECT_EQ(HardestBars(run, *core->Practice().MeterOf(run.song)), (std::vector<uint32_t>{3, 2}));
}

// An input that tells when each key was played (a JACK port, a period behind) is scored at that
// time, not at the moment its message came in.
TEST_F(PracticeTest, AKeyIsScoredAtTheTimeItsInputSaysItWasPlayed) {
    class StampingInput : public MidiIn {
      public:
        int Start() override { return 0; }
        void Close() override {}
        bool StampsProgramClock() const override { return true; }
    } input;
    core->AddLoadedSong(SixNotes().Load(), 1);
    Start(PlayMode::Accompaniment);
    At(1040);
    PlaySession::MidiInProc(&input, kMimData, &core->Session(), Msg(0x90, 60, 100), start + 1000);
    core->StopPlay();
    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_FALSE(runs[0].notes.empty());
    EXPECT_TRUE(runs[0].notes[0].hit);
    EXPECT_EQ(runs[0].notes[0].errorMs, 0);
}

TEST_F(PracticeTest, AccompanimentIdealTimesFollowTheSpeed) {
    core->m_slider = 0;  // x0.5
    core->AddLoadedSong(SixNotes().Load(), 1);
    Start(PlayMode::Accompaniment);
    At(2000);  // the note at 1 s of the song is due after 2 s
    Press(60);
    At(4100);
    Press(62);
    core->StopPlay();
    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].speedPercent, 50);
    ASSERT_EQ(runs[0].notes.size(), 2u);
    EXPECT_TRUE(runs[0].notes[0].hit);
    EXPECT_EQ(runs[0].notes[0].errorMs, 0);
    EXPECT_EQ(runs[0].notes[1].errorMs, 100);
}

TEST_F(PracticeTest, LessonMeasuresEachWaitAndTheWrongKeysPressedMeanwhile) {
    SmfWriter w;
    w.Note(1000, 0, 60, 300).Note(1000, 0, 64, 300);  // a chord, completed key by key
    w.Note(2500, 0, 67, 300);                         // played the moment it is due
    w.Note(4500, 0, 72, 300);                         // in bar 3, waited for long
    core->AddLoadedSong(w.Load(), 1);
    Start(PlayMode::MyPaceLesson);
    At(1000);
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());
    const uint32_t due = ManualClock::Get();
    Press(61);  // wrong
    Tick(100);
    Key(60, true);
    Tick(100);
    EXPECT_TRUE(PerformanceOf(*core)->Waiting());
    Press(60);  // a chord key again is not wrong
    Key(60, true);
    Key(64, true);
    Tick();
    const uint32_t done = ManualClock::Get();
    EXPECT_FALSE(PerformanceOf(*core)->Waiting());
    Key(60, false);
    Key(64, false);
    // The next chord: held before it comes due, completed as it does.
    Key(67, true);
    At(3000);  // the song is behind the clock by the first wait
    Key(67, false);
    At(5000);
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());
    Tick(2000);
    Key(72, true);
    Tick();
    Key(72, false);
    PlayToEnd();

    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    const PracticeRun& run = runs[0];
    ASSERT_EQ(run.chords.size(), 3u);
    EXPECT_EQ(run.chords[0].waitMs, done - due);
    EXPECT_EQ(run.chords[0].wrong, 1u);
    EXPECT_EQ(run.chords[1].waitMs, 0u);
    EXPECT_EQ(run.chords[1].wrong, 0u);
    EXPECT_GE(run.chords[2].waitMs, 2000u);
    EXPECT_TRUE(run.notes.empty());
    const PracticeSummary s = Summary(run);
    EXPECT_EQ(s.chords, 3u);
    EXPECT_EQ(s.wrong, 1u);
    EXPECT_EQ(s.waitP50, done - due);
    EXPECT_DOUBLE_EQ(s.accuracy, 2.0 / 3.0);
    // Bar 3's long wait first, then bar 1's short wait with a wrong key.
    EXPECT_EQ(HardestBars(run, *core->Practice().MeterOf(run.song)), (std::vector<uint32_t>{3, 1}));
}

// A key tapped shortly before its chord comes due plays that chord; pressed while the lesson
// waits for the chord before, it is no wrong key there. Nor is a press left out of the figures.
TEST_F(PracticeTest, LessonTakesAKeyTappedJustBeforeItsChord) {
    SmfWriter w;
    w.Note(600, 0, 60, 300).Note(1200, 0, 62, 300).Note(1800, 0, 64, 300);
    core->AddLoadedSong(w.Load(), 1);
    Start(PlayMode::MyPaceLesson);
    At(500);
    Press(60);
    At(700);
    EXPECT_FALSE(PerformanceOf(*core)->Waiting());
    At(1200);
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());
    Press(61);                             // wrong
    core->PlayScreenKey(63, true, false);  // the click that focused the screen keyboard
    core->PlayScreenKey(63, false);
    Tick(50);
    Press(64);  // the next chord's, early
    Tick(50);
    Press(62);
    Tick();
    EXPECT_FALSE(PerformanceOf(*core)->Waiting());
    PlayToEnd();

    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].chords.size(), 3u);
    EXPECT_EQ(runs[0].chords[0].waitMs, 0u);
    EXPECT_EQ(runs[0].chords[1].wrong, 1u);
    EXPECT_EQ(runs[0].chords[2].waitMs, 0u);
    EXPECT_EQ(runs[0].chords[2].wrong, 0u);
}

TEST_F(PracticeTest, EachPassOfALoopIsARunOfItsOwn) {
    core->AddLoadedSong(SixNotes().Load(), 1);
    core->SetLoop(LoopSpan{0, 2000}, 2);
    Start(PlayMode::Accompaniment);
    At(1000);
    Press(60);
    PlayToEnd();
    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    for (const PracticeRun& run : runs) {
        EXPECT_EQ(run.startSongMs, 0u);
        EXPECT_EQ(run.endSongMs, 1999u);
        EXPECT_NEAR(run.durationMs, 2000, 2);
        ASSERT_EQ(run.notes.size(), 1u);
    }
    EXPECT_TRUE(runs[0].notes[0].hit);
    EXPECT_FALSE(runs[1].notes[0].hit);
    EXPECT_EQ(runs[1].extra, 0u);
}

TEST_F(PracticeTest, AStopInTheMiddleEndsTheRunWithWhatWasDue) {
    core->AddLoadedSong(SixNotes().Load(), 1);
    Start(PlayMode::Accompaniment);
    At(1000);
    Press(60);
    At(2500);
    core->StopPlay();
    Press(64);  // after the stop: not part of any run
    // Nothing is scored until a late press could no longer count.
    EXPECT_TRUE(core->Practice().Collect(ManualClock::Get() + 100).empty());
    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].notes.size(), 2u);
    EXPECT_EQ(runs[0].endSongMs, 2500u);
    EXPECT_EQ(runs[0].durationMs, 2500u);
    EXPECT_EQ(runs[0].extra, 0u);
    const PracticeSummary s = Summary(runs[0]);
    EXPECT_EQ(s.hit, 1u);
    EXPECT_EQ(s.missed, 1u);
    EXPECT_EQ(s.lastBar, 2u);
}

TEST_F(PracticeTest, AModelPerformanceIsMeasuredButNotScored) {
    core->AddLoadedSong(SixNotes().Load(), 1);
    Start(PlayMode::ModelPerformance);
    Press(60);
    At(1500);
    core->StartPlay(PlayMode::Solo);  // a switch starts a new run
    At(3000);
    core->StopPlay();
    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].mode, PlayMode::ModelPerformance);
    EXPECT_EQ(runs[1].mode, PlayMode::Solo);
    EXPECT_EQ(runs[1].startSongMs, runs[0].endSongMs);
    for (const PracticeRun& run : runs) {
        EXPECT_TRUE(run.notes.empty());
        EXPECT_EQ(run.extra, 0u);
        EXPECT_FALSE(Summary(run).scored);
    }
}

// What a run shows: nothing for a run in which no key was pressed, no bar to practise for a run
// without a fault.
TEST_F(PracticeTest, ARunWithoutKeysIsNotKeptAndAFaultlessRunHasNoHardBars) {
    core->AddLoadedSong(SixNotes().Load(), 1);
    Start(PlayMode::Accompaniment);
    At(3500);  // three notes due, none played
    core->StopPlay();
    std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(AnythingPlayed(runs[0]));
    EXPECT_EQ(Summary(runs[0]).accuracy, 0.0);

    core->SeekTo(0);  // a stop keeps the place
    Start(PlayMode::MyPaceLesson);
    At(2500);  // waits at the first chord, then stopped
    core->StopPlay();
    Start(PlayMode::ModelPerformance);
    core->StopPlay();  // stopped before the song moved
    runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_FALSE(AnythingPlayed(runs[0]));
    EXPECT_FALSE(AnythingPlayed(runs[1]));

    // A lesson played through without a wrong key, with a long wait in the middle.
    core->SeekTo(0);
    Start(PlayMode::MyPaceLesson);
    const int keys[] = {60, 62, 64, 65, 67, 69};
    for (int i = 0; i < 6; ++i) {
        for (int guard = 0; guard < 5000 && !PerformanceOf(*core)->Waiting(); ++guard) {
            Tick();
        }
        Tick(i == 2 ? 3000 : 10);
        Key(keys[i], true);
        Tick();
        Key(keys[i], false);
    }
    PlayToEnd();
    runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(AnythingPlayed(runs[0]));
    EXPECT_DOUBLE_EQ(Summary(runs[0]).accuracy, 1.0);
    EXPECT_TRUE(HardestBars(runs[0], *core->Practice().MeterOf(runs[0].song)).empty());
    // One wrong key makes it a run with a bar to practise again.
    runs[0].chords[3].wrong = 1;
    EXPECT_FALSE(HardestBars(runs[0], *core->Practice().MeterOf(runs[0].song)).empty());

    core->SeekTo(0);
    Start(PlayMode::ModelPerformance);
    At(1500);
    core->StopPlay();
    runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(AnythingPlayed(runs[0]));  // listened to: kept with its tempo
}

TEST(PracticeScorer, APressJustAfterTheEndStillAnswersTheLastNote) {
    PracticeScorer scorer;
    PracticeEvent start;
    start.kind = PracticeEvent::RunStart;
    start.mode = static_cast<uint8_t>(PlayMode::Accompaniment);
    start.value = 100;
    start.clockMs = 0xFFFFFF00u;  // the clock wraps during the run
    PracticeEvent note;
    note.kind = PracticeEvent::PracticeNote;
    note.key = 60;
    note.clockMs = 0xFFFFFFF0u;
    PracticeEvent end;
    end.kind = PracticeEvent::RunEnd;
    end.clockMs = 0xFFFFFFF8u;
    scorer.Feed({start, note, end});
    EXPECT_TRUE(scorer.TakeFinished(0x40).empty());
    PracticeEvent press;
    press.kind = PracticeEvent::KeyDown;
    press.key = 60;
    press.clockMs = 0x50;  // 0x60 ms after the ideal time, past the wrap
    scorer.Feed({press});
    const std::vector<PracticeRun> runs = scorer.TakeFinished(0x200);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].notes.size(), 1u);
    EXPECT_TRUE(runs[0].notes[0].hit);
    EXPECT_EQ(runs[0].notes[0].errorMs, 0x60);
}

TEST(PracticeQueue, AFullQueueDropsRatherThanGrowsUntilItIsTaken) {
    PracticeQueue queue;
    PracticeEvent press;
    press.kind = PracticeEvent::KeyDown;
    for (int i = 0; i < 10000; ++i) {
        press.clockMs = static_cast<uint32_t>(i);
        queue.Push(press);
    }
    std::vector<PracticeEvent> taken = queue.Take();
    ASSERT_EQ(taken.size(), PracticeQueue::kReserve);
    EXPECT_EQ(taken.back().clockMs, 8191u);  // the oldest are kept
    EXPECT_EQ(queue.Dropped(), 10000u - PracticeQueue::kReserve);
    queue.Push(press);
    EXPECT_EQ(queue.Take().size(), 1u);
}

TEST(PracticeLoop, ABarLoopsWithItsNeighboursWithinTheSong) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(7900, 0, 60, 100);  // four bars of 2 s
    const smf::MeterMap meter(*w.Load());
    EXPECT_EQ(LoopAroundBar(meter, 1), (LoopSpan{0, 4000}));
    EXPECT_EQ(LoopAroundBar(meter, 3), (LoopSpan{2000, 8000}));
    EXPECT_EQ(LoopAroundBar(meter, 4), (LoopSpan{4000, 8000}));
}

}  // namespace
