// The key state the screen keyboard shows, and the keys it plays.

#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <thread>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/key_state.h"
#include "engine/publish_notice.h"
#include "engine_test_support.h"
#include "platform/clock.h"

namespace {

class KeyStateTest : public CoreFixture {
  protected:
    void Tick(uint32_t ms = 1) { AdvanceAndTick(ms); }
    // Ticks until the song time reaches ms (each advance moves it by the clock step).
    void PlayTo(uint32_t songMs) {
        for (int guard = 0; guard < 10000 && PerformanceOf(*core)->SongTime() < songMs; ++guard) {
            Tick(10);
        }
    }
    void Key(int key, bool down) { core->FromInput(Msg(down ? 0x90 : 0x80, key, down ? 64 : 0)); }
    static std::vector<int> Keys(const KeyBits& bits) {
        std::vector<int> keys;
        for (int k = 0; k < 128; ++k) {
            if (TestKey(bits, k)) {
                keys.push_back(k);
            }
        }
        return keys;
    }
    std::vector<uint32_t> NotesSent() {
        std::vector<uint32_t> notes;
        for (uint32_t m : service.SentShort()) {
            const uint32_t status = m & 0xF0;
            if ((status == 0x80 || status == 0x90) && (m & 0x0F) != 0) {
                notes.push_back(m);
            }
        }
        service.ClearSent();
        return notes;
    }
};

// A chord of 60 and 64 at 500 ms, then 67 at 1500 ms; channel 0 is practised.
SmfWriter ChordSong() {
    SmfWriter w;
    w.Note(500, 0, 60, 300).Note(500, 0, 64, 300).Note(1500, 0, 67, 200);
    return w;
}

TEST_F(KeyStateTest, HeldKeysAreMirroredWithoutAnyPerformance) {
    ASSERT_EQ(PerformanceOf(*core), nullptr);
    Key(60, true);
    Key(127, true);
    core->FromInput(Msg(0x91, 62, 64));  // channel 2
    EXPECT_EQ(Keys(core->ReadKeyState().held), (std::vector<int>{60, 127}));
    core->FromInput(Msg(0x90, 60, 0));
    EXPECT_EQ(Keys(core->ReadKeyState().held), (std::vector<int>{127}));
}

// The window sleeps on the notice while nothing moves: a stopped clock's ticks must not wake it,
// and a key held on the MIDI keyboard or a start must, once per arming.
TEST_F(KeyStateTest, OnlyChangesArePublishedAndTheFirstWakesAnArmedReader) {
    PublishNotice& notice = core->Published();
    const auto woken = [&] {
        pollfd p{notice.Descriptor(), POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    };
    ASSERT_GE(notice.Descriptor(), 0);
    const uint64_t before = notice.Count();
    Tick(50);
    Tick(50);
    EXPECT_EQ(notice.Count(), before) << "a stopped clock's ticks change nothing";
    notice.Arm();
    Key(60, true);
    Key(60, true);  // held already
    EXPECT_EQ(notice.Count(), before + 1);
    EXPECT_TRUE(woken());
    notice.Drain();
    Key(60, false);
    EXPECT_EQ(notice.Count(), before + 2);
    EXPECT_FALSE(woken()) << "not armed again";

    notice.Arm();
    core->AddLoadedSong(ChordSong().Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    Tick();
    EXPECT_GT(notice.Count(), before + 2);
    EXPECT_TRUE(woken());
}

TEST_F(KeyStateTest, LessonPublishesLightsAwaitedChordAndWrongKeys) {
    core->AddLoadedSong(ChordSong().Load(), 1);
    core->StartPlay(PlayMode::MyPaceLesson);
    Tick();
    PlayTo(100);
    KeyState::Snapshot s = core->ReadKeyState();
    EXPECT_EQ(Keys(s.preLit), (std::vector<int>{60, 64}));
    EXPECT_TRUE(Keys(s.lit).empty());
    EXPECT_TRUE(Keys(s.awaited).empty());

    // A key held before the chord is due is no wrong key while nothing is awaited.
    Key(62, true);
    Tick();
    EXPECT_TRUE(Keys(core->ReadKeyState().wrong).empty());

    PlayTo(500);
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());
    s = core->ReadKeyState();
    EXPECT_EQ(Keys(s.lit), (std::vector<int>{60, 64}));
    EXPECT_EQ(Keys(s.preLit), (std::vector<int>{67}));  // the next chord, 1000 ms ahead
    EXPECT_EQ(Keys(s.awaited), (std::vector<int>{60, 64}));
    EXPECT_EQ(Keys(s.wrong), (std::vector<int>{62}));

    // Crossed off, 60 is no longer lit but still belongs to the chord: holding it is right.
    Key(60, true);
    Tick();
    s = core->ReadKeyState();
    EXPECT_EQ(Keys(s.lit), (std::vector<int>{64}));
    EXPECT_EQ(Keys(s.awaited), (std::vector<int>{60, 64}));
    EXPECT_EQ(Keys(s.wrong), (std::vector<int>{62}));
    Key(60, false);
    Key(60, true);
    Tick();
    EXPECT_EQ(Keys(core->ReadKeyState().wrong), (std::vector<int>{62}));

    // The lesson goes on; the wrong key stays marked until it is released.
    Key(64, true);
    Tick();
    EXPECT_FALSE(PerformanceOf(*core)->Waiting());
    Tick(10);
    s = core->ReadKeyState();
    EXPECT_TRUE(Keys(s.awaited).empty());
    EXPECT_EQ(Keys(s.wrong), (std::vector<int>{62}));
    Key(62, false);
    Tick();
    EXPECT_TRUE(Keys(core->ReadKeyState().wrong).empty());

    // Stopping clears everything but the hands.
    core->StopPlay();
    Tick();
    s = core->ReadKeyState();
    EXPECT_TRUE(Keys(s.lit).empty() && Keys(s.preLit).empty() && Keys(s.awaited).empty());
    EXPECT_EQ(Keys(s.held), (std::vector<int>{60, 64}));
}

TEST_F(KeyStateTest, OutsideTheLessonNoKeyIsWrong) {
    core->AddLoadedSong(ChordSong().Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    Tick();
    Key(62, true);
    PlayTo(550);
    const KeyState::Snapshot s = core->ReadKeyState();
    EXPECT_EQ(Keys(s.lit), (std::vector<int>{60, 64}));
    EXPECT_TRUE(Keys(s.wrong).empty());
    EXPECT_TRUE(Keys(s.awaited).empty());
}

TEST_F(KeyStateTest, LightsArePublishedWithoutAnyOutputDevice) {
    service.SetOutputNames({});
    core = std::make_unique<TestCore>(service, dir.Path());
    core->OpenMidiDevices();
    ASSERT_EQ(OutputOf(*core), nullptr);
    core->AddLoadedSong(ChordSong().Load(), 1);
    core->StartPlay(PlayMode::MyPaceLesson);
    Tick();
    PlayTo(500);
    EXPECT_EQ(Keys(core->ReadKeyState().lit), (std::vector<int>{60, 64}));
    core->PlayScreenKey(60, true);  // nothing to sound on, but the lesson hears it
    Tick();
    EXPECT_EQ(Keys(core->ReadKeyState().lit), (std::vector<int>{64}));
    core->PlayScreenKey(60, false);
}

TEST_F(KeyStateTest, ScreenKeysSoundOnThePracticePartAndTheirNoteOffFollowsThem) {
    core->AddLoadedSong(ChordSong().Load(), 1);
    // Before any song is prepared: channel 2, clear of the lighting channel.
    service.ClearSent();
    core->PlayScreenKey(50, true);
    core->PlayScreenKey(50, false);
    EXPECT_EQ(NotesSent(), (std::vector<uint32_t>{Msg(0x91, 50, 100), Msg(0x81, 50, 0)}));

    // The practised channel 1 goes out on the spare channel 16, as the song's own notes do.
    core->StartPlay(PlayMode::MyPaceLesson);
    NotesSent();
    core->PlayScreenKey(60, true);
    EXPECT_EQ(NotesSent(), (std::vector<uint32_t>{Msg(0x9F, 60, 100)}));
    EXPECT_TRUE(PerformanceOf(*core)->KeyDown(60));
    core->PlayScreenKey(60, true);  // already sounding: no second note-on
    EXPECT_TRUE(NotesSent().empty());

    // The accompaniment silences the practice part: a free channel sounds instead (not the
    // spare one, not the drums). The held key's note-off still goes where its note-on went.
    core->StartPlay(PlayMode::Accompaniment);
    NotesSent();
    core->PlayScreenKey(62, true);
    core->PlayScreenKey(60, false);
    core->PlayScreenKey(62, false);
    EXPECT_EQ(NotesSent(),
              (std::vector<uint32_t>{Msg(0x9E, 62, 100), Msg(0x8F, 60, 0), Msg(0x8E, 62, 0)}));
    EXPECT_FALSE(PerformanceOf(*core)->KeyDown(60));
}

// Input, clock and a reader at once; meant for the thread sanitizer.
TEST_F(KeyStateTest, InputClockAndReaderShareTheStateWithoutRaces) {
    core->AddLoadedSong(ChordSong().Load(), 1);
    core->StartPlay(PlayMode::MyPaceLesson);
    std::atomic<bool> stop{false};
    std::thread input([&] {
        for (int i = 0; !stop.load(); ++i) {
            Key(55 + i % 20, i % 3 != 0);
        }
    });
    std::thread reader([&] {
        uint64_t sum = 0;
        while (!stop.load()) {
            const KeyState::Snapshot s = core->ReadKeyState();
            sum += s.held[0] ^ s.lit[0] ^ s.wrong[0];
        }
        EXPECT_GE(sum, 0u);
    });
    for (int i = 0; i < 2000; ++i) {
        Tick(1);
        if (i % 500 == 0) {
            core->StartPlay(PlayMode::MyPaceLesson);  // from a stopped song: a new performance
        }
    }
    stop = true;
    input.join();
    reader.join();
    core->StopPlay();
}

}  // namespace
