// The player's input stream: every key and the sustain pedal, from the input device and the
// screen keyboard, with the clock and song time each was played at.

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/player_input.h"
#include "engine_test_support.h"
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

}  // namespace
