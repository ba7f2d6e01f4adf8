// The player's input stream: every key and the sustain pedal, from the input device and the
// screen keyboard, with the clock and song time each was played at.

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/player_input.h"
#include "engine/practice_run.h"
#include "engine/take_file.h"
#include "engine_test_support.h"
#include "midi/device_opening.h"
#include "platform/clock.h"

namespace {

class PlayerInputTest : public CoreFixture {
  protected:
    void Start(PlayMode mode) {
        core->StartPlay(mode);
        TickEveryMs(1);
        start = ManualClock::Get();
    }
    void At(uint32_t ms) {
        while (ManualClock::Get() < start + ms && core->CurrentPlayState() != Stopped) {
            TickEveryMs(1);
        }
    }
    void Send(int status, int data1, int data2) { core->FromInput(Msg(status, data1, data2)); }
    std::vector<PracticeRun> Runs() { return core->Practice().Collect(ManualClock::Get() + 1000); }

    uint32_t start = 0;
};

TEST_F(PlayerInputTest, KeysAndPedalFromBothKeyboardsReachTheStreamAtTheirSongTime) {
    SmfWriter w;
    w.Note(1000, 0, 60, 300).Note(2000, 0, 62, 300);
    core->AddLoadedSong(w.Load(), 1);
    Send(0x90, 40, 100);  // nothing plays yet: not part of any run
    Send(0x80, 40, 0);
    Start(PlayMode::MyPaceLesson);
    At(1500);
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());  // the song stands at 1000 since 1000
    Send(0xB0, 64, 127);
    Send(0x91, 61, 100);  // another channel: not the player's
    Send(0xB0, 7, 100);   // not the pedal
    Send(0x90, 60, 90);   // completes the chord
    TickEveryMs(1);
    ASSERT_FALSE(PerformanceOf(*core)->Waiting());
    At(1700);
    Send(0x90, 60, 0);  // a note-on without velocity lets the key go
    core->PlayScreenKey(62, true, false);
    At(1800);
    core->PlayScreenKey(62, false);
    Send(0xB0, 64, 0);

    const std::vector<PlayerAction> a = core->Practice().Input().Take();
    ASSERT_EQ(a.size(), 6u);
    using A = PlayerAction;
    const A::Kind kinds[] = {A::Pedal, A::KeyDown, A::KeyUp, A::KeyDown, A::KeyUp, A::Pedal};
    const uint8_t values[] = {127, 90, 0, 100, 0, 0};
    const uint32_t clocks[] = {1500, 1500, 1700, 1700, 1800, 1800};
    // Held at the awaited chord through the wait, then on from it as the clock goes.
    const uint32_t songs[] = {1000, 1000, 1199, 1199, 1299, 1299};
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a[i].kind, kinds[i]);
        EXPECT_EQ(a[i].value, values[i]);
        EXPECT_EQ(a[i].clockMs, start + clocks[i]);
        EXPECT_EQ(a[i].songMs, songs[i]);
    }
    EXPECT_EQ(a[1].key, 60);
    EXPECT_EQ(a[1].origin, A::Device);
    EXPECT_EQ(a[3].key, 62);
    EXPECT_EQ(a[3].origin, A::Screen);
    EXPECT_FALSE(a[3].scored);
    EXPECT_TRUE(a[1].scored);
}

// A scripted player at half speed: the take holds each key and the pedal at its song time with
// its velocity, a key still held at the stop ends there, and the take reads back from the form
// the history keeps it in exactly as it was.
TEST_F(PlayerInputTest, ATakeHoldsWhatWasPlayedAtSongTimeAndReadsBackWhole) {
    core->m_slider = 0;  // x0.5
    SmfWriter w;
    w.Note(1000, 0, 60, 300).Note(3000, 1, 48, 300);
    core->AddLoadedSong(w.Load(), 1);
    Start(PlayMode::Accompaniment);
    At(1000);
    Send(0xB0, 64, 100);
    Send(0x90, 60, 80);
    Send(0x80, 50, 0);  // let go without being pressed in this run
    At(1200);
    Send(0x90, 64, 30);
    At(1400);
    Send(0x80, 60, 64);
    At(1600);
    Send(0xB0, 64, 0);
    At(2000);
    core->StopPlay();

    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    using E = TakeEvent;
    const Take expected = {{500, E::Pedal, 0, 100},  {500, E::NoteOn, 60, 80},
                           {600, E::NoteOn, 64, 30}, {700, E::NoteOff, 60, 0},
                           {800, E::Pedal, 0, 0},    {1000, E::NoteOff, 64, 0}};
    EXPECT_EQ(runs[0].take, expected);
    const std::vector<uint8_t> kept = TakeToSmf(runs[0].take);
    EXPECT_EQ(TakeFromSmf(kept.data(), kept.size()), expected);
    // A record cut short or overwritten is told apart from a take.
    EXPECT_FALSE(TakeFromSmf(kept.data(), kept.size() - 1));
    std::vector<uint8_t> damaged = kept;
    damaged[14] = 'X';  // the track's chunk id
    EXPECT_FALSE(TakeFromSmf(damaged.data(), damaged.size()));
}

// Each pass of a loop has a take of its own at its own part of the song: a key held over the
// turn ends with the first pass, and the pedal held over it starts the second held.
TEST_F(PlayerInputTest, EachPassOfALoopTakesWhatWasPlayedInIt) {
    SmfWriter w;
    w.Note(500, 0, 60, 300).Note(1500, 0, 62, 300);
    core->AddLoadedSong(w.Load(), 1);
    core->SetLoop(LoopSpan{0, 2000}, 2);
    Start(PlayMode::Accompaniment);
    At(1500);
    Send(0xB0, 64, 127);
    Send(0x90, 62, 90);
    At(2500);
    Send(0x80, 62, 0);
    Send(0x90, 60, 70);
    Send(0x80, 60, 0);
    while (core->CurrentPlayState() != Stopped) {
        TickEveryMs(1);
    }

    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    using E = TakeEvent;
    EXPECT_EQ(runs[0].take, (Take{{1500, E::Pedal, 0, 127},
                                  {1500, E::NoteOn, 62, 90},
                                  {1999, E::NoteOff, 62, 0},
                                  {1999, E::Pedal, 0, 0}}));
    // The turn back to the loop's start takes a millisecond of the clock.
    EXPECT_EQ(runs[1].take, (Take{{0, E::Pedal, 0, 127},
                                  {501, E::NoteOn, 60, 70},
                                  {501, E::NoteOff, 60, 0},
                                  {1999, E::Pedal, 0, 0}}));
}

// A keyboard pulled out while a key and the pedal are down, and the solo plays on without it:
// the take lets them go where the keyboard went, not at the end of the run.
TEST_F(PlayerInputTest, WhatAKeyboardHeldEndsWhereItWasPulledOut) {
    SmfWriter w;
    w.Note(500, 0, 60, 300).Note(3000, 1, 48, 300);
    core->AddLoadedSong(w.Load(), 1);
    Start(PlayMode::Solo);
    At(500);
    Send(0xB0, 64, 127);
    Send(0x90, 60, 80);
    Send(0x90, 62, 70);
    Send(0x80, 62, 0);
    At(1000);
    service.UnplugInput(0);
    core->CheckDevices();
    ASSERT_EQ(core->m_messages, std::vector<std::string>{kInputLostNothingStoppedText});
    EXPECT_FALSE(TestKey(core->Session().ReadKeyState().held, 60));  // nor on the screen keyboard
    At(2000);
    ASSERT_EQ(core->CurrentPlayState(), Playing);
    core->StopPlay();

    const std::vector<PracticeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    using E = TakeEvent;
    EXPECT_EQ(runs[0].take, (Take{{500, E::Pedal, 0, 127},
                                  {500, E::NoteOn, 60, 80},
                                  {500, E::NoteOn, 62, 70},
                                  {500, E::NoteOff, 62, 0},
                                  {1000, E::NoteOff, 60, 0},
                                  {1000, E::Pedal, 0, 0}}));
}

}  // namespace
