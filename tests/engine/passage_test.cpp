// Start anywhere, jumps while playing and the A-B loop, through the window core with the
// in-memory MIDI service and the manual clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine_test_support.h"
#include "platform/clock.h"

namespace {

const std::vector<uint8_t> kGmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

class PassageTest : public CoreFixture {
  protected:
    void SetUp() override {
        CoreFixture::SetUp();
        service.ClearSent();
    }
    std::vector<RecordedMessage> Take() { return service.TakeSent(); }
    std::vector<uint32_t> Shorts(const std::vector<RecordedMessage>& sent) {
        std::vector<uint32_t> out;
        for (const RecordedMessage& m : sent) {
            if (!m.sysex) {
                out.push_back(m.packed);
            }
        }
        return out;
    }
    void Tick(uint32_t ms = 1) { TickEveryMs(ms); }
    Performance& P() { return *PerformanceOf(*core); }
    // Ticks until the song reaches the time, the lesson waits or play stops.
    void PlayUntil(uint32_t songTime) {
        for (int guard = 0; guard < 100000 && core->CurrentPlayState() != Stopped; ++guard) {
            if (core->CurrentPlayState() == Playing &&
                (P().SongTime() >= songTime || P().Waiting())) {
                return;
            }
            Tick();
        }
    }
    // Plays the lesson like a player who holds each awaited chord for a moment.
    void PlayLessonUntilStopped(std::vector<RecordedMessage>& sent, int maxChords = 1000) {
        for (int chords = 0; chords < maxChords && core->CurrentPlayState() != Stopped;) {
            PlayUntil(0xFFFFFFFFu);
            if (core->CurrentPlayState() == Stopped) {
                break;
            }
            std::vector<int> keys;
            for (int s = 0; s < P().GetLesson().AwaitedChord().count; ++s) {
                if (P().GetLesson().AwaitedChord().index[s] != Chord::kPlayed) {
                    keys.push_back(
                        P().GetTimeline().Events()[P().GetLesson().AwaitedChord().index[s]].data1);
                }
            }
            for (int k : keys) {
                P().SetKeyDown(k, true);
            }
            Tick(2);
            for (int k : keys) {
                P().SetKeyDown(k, false);
            }
            ++chords;
            auto more = Take();
            sent.insert(sent.end(), more.begin(), more.end());
        }
        auto more = Take();
        sent.insert(sent.end(), more.begin(), more.end());
    }
};

// Channel 2 (index 1) sounds a long note over program, controllers and a bend after a reset;
// the practice channel 1 (index 0) has notes at 0, 1000 and 3000. Channel 1 plays on 16.
SmfWriter StateSong() {
    SmfWriter w;
    w.Add(0, kGmOn);
    w.Control(0, 1, 7, 80);
    w.Add(0, {0xC1, 5});
    w.Control(0, 1, 10, 30);
    w.Note(0, 1, 62, 2000);
    w.Add(100, {0xE1, 0x00, 0x50});
    w.Note(0, 0, 60, 400);
    w.Note(1000, 0, 64, 400);
    w.Note(3000, 0, 67, 400);
    return w;
}

TEST_F(PassageTest, AJumpWhilePlayingEndsWhatSoundsThenSendsTheStateWithoutAnyNote) {
    core->AddLoadedSong(StateSong().Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    PlayUntil(500);
    Take();

    core->SeekTo(2500);
    const std::vector<RecordedMessage> sent = Take();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(Shorts({sent[0], sent[1]}),
              (std::vector<uint32_t>{Msg(0x81, 62, 0), Msg(0xB1, 123, 0)}));
    ASSERT_TRUE(sent[2].sysex);
    EXPECT_EQ(sent[2].bytes, kGmOn);
    // After the reset the lighting channel is silenced again, then channel 2's state follows.
    EXPECT_EQ(Shorts({sent.begin() + 3, sent.end()}),
              (std::vector<uint32_t>{Msg(0xB0, 7, 0), Msg(0xC1, 5, 0), Msg(0xB1, 7, 80),
                                     Msg(0xB1, 10, 30), Msg(0xE1, 0x00, 0x50)}));
    EXPECT_EQ(core->ShownSongTime(), 2500u);

    // Nothing from before 2500 sounds afterwards; the chord at 3000 lights and sounds.
    PlayUntil(3001);
    Tick(2);
    const std::vector<uint32_t> later = Shorts(Take());
    EXPECT_EQ(std::count(later.begin(), later.end(), Msg(0x9F, 64, 100)), 0);
    EXPECT_EQ(std::count(later.begin(), later.end(), Msg(0x91, 62, 100)), 0);
    EXPECT_EQ(std::count(later.begin(), later.end(), Msg(0x9F, 67, 100)), 1);
    EXPECT_TRUE(P().GetKeyLights().Key(67).lit);
}

TEST_F(PassageTest, AStartFromAPlaceSendsTheResetsThenTheStateThere) {
    core->AddLoadedSong(StateSong().Load(), 1);
    core->SeekTo(1500);
    EXPECT_EQ(core->ShownSongTime(), 1500u);
    EXPECT_TRUE(Take().empty()) << "a place chosen while stopped sends nothing";

    core->StartPlay(PlayMode::Accompaniment);
    const std::vector<RecordedMessage> sent = Take();
    const auto reset =
        std::find_if(sent.begin(), sent.end(), [](const RecordedMessage& m) { return m.sysex; });
    ASSERT_NE(reset, sent.end());
    // The usual start comes first, then the state at 1500; the practice channel stays silent.
    const std::vector<uint32_t> start = Shorts({sent.begin(), reset});
    EXPECT_EQ(start.back(), Msg(0xB0, 7, 0));
    const std::vector<uint32_t> state = Shorts({reset + 1, sent.end()});
    EXPECT_EQ(state,
              (std::vector<uint32_t>{Msg(0xB0, 7, 0), Msg(0xBF, 7, 0), Msg(0xC1, 5, 0),
                                     Msg(0xB1, 7, 80), Msg(0xB1, 10, 30), Msg(0xE1, 0x00, 0x50)}));

    PlayUntil(1600);
    EXPECT_GE(P().SongTime(), 1500u);
    EXPECT_LE(P().SongTime(), 1602u);
    const std::vector<uint32_t> played = Shorts(Take());
    EXPECT_EQ(std::count_if(played.begin(), played.end(),
                            [](uint32_t m) { return (m & 0xF0) == 0x90 && (m >> 16) != 0; }),
              0)
        << "no note of before 1500 is started";

    core->StopPlay();
    EXPECT_EQ(core->ShownSongTime(), 1500u) << "the next start begins at the same place";
}

// Practice notes every 500 ms from 0 to 4000 on channel 1, each 300 ms long, and an
// accompaniment note on channel 2 that runs over B.
SmfWriter LoopSong() {
    SmfWriter w;
    for (uint32_t t = 0; t <= 4000; t += 500) {
        w.Note(t, 0, 60 + static_cast<int>(t / 500), 300);
    }
    w.Note(1800, 1, 50, 500);
    return w;
}

std::map<uint32_t, int> NoteOnCounts(const std::vector<uint32_t>& shorts) {
    std::map<uint32_t, int> counts;
    for (uint32_t m : shorts) {
        if ((m & 0xF0) == 0x90 && (m >> 16) != 0 && (m & 0x0F) != 0) {
            ++counts[m & 0xFFFF];
        }
    }
    return counts;
}

// Every note-on on a sounding channel has been ended by a note-off, All Notes Off or All Sound
// Off by the end.
void ExpectNothingLeftSounding(const std::vector<uint32_t>& shorts) {
    std::map<uint32_t, int> on;
    for (uint32_t m : shorts) {
        const uint32_t status = m & 0xF0;
        const uint32_t channel = m & 0x0F;
        if (channel == 0) {
            continue;  // the lighting channel
        }
        const uint32_t key = (m >> 8) & 0x7F;
        if (status == 0x90 && (m >> 16) != 0) {
            on[channel << 8 | key] = 1;
        } else if (status == 0x80 || status == 0x90) {
            on[channel << 8 | key] = 0;
        } else if (status == 0xB0 && (key == 120 || key == 123)) {
            for (auto& [k, v] : on) {
                if ((k >> 8) == channel) {
                    v = 0;
                }
            }
        }
    }
    for (const auto& [k, v] : on) {
        EXPECT_EQ(v, 0) << "channel " << (k >> 8) << " key " << (k & 0xFF) << " still sounds";
    }
}

TEST_F(PassageTest, ALoopRepeatsThePassageInEveryModeAndLeavesNoNoteOn) {
    const PlayMode modes[] = {PlayMode::ModelPerformance, PlayMode::MyPaceLesson,
                              PlayMode::Accompaniment, PlayMode::Solo};
    for (PlayMode mode : modes) {
        SCOPED_TRACE(static_cast<int>(mode));
        core->StopPlay();
        core->AddLoadedSong(LoopSong().Load(), 1);
        core->SetLoop(LoopSpan{1000, 2000}, 3);
        core->SeekTo(0);  // the learner goes back before A
        core->StartPlay(mode);
        std::vector<RecordedMessage> sent;
        PlayLessonUntilStopped(sent);
        ASSERT_EQ(core->CurrentPlayState(), Stopped);
        EXPECT_EQ(core->LoopPassesPlayed(), 3);
        const std::vector<uint32_t> shorts = Shorts(sent);
        const std::map<uint32_t, int> counts = NoteOnCounts(shorts);
        auto count = [&](int channel, int key) {
            const auto it = counts.find(static_cast<uint32_t>((key << 8) | 0x90 | channel));
            return it == counts.end() ? 0 : it->second;
        };
        EXPECT_EQ(count(15, 60), 1) << "before A: once";
        EXPECT_EQ(count(15, 61), 1);
        EXPECT_EQ(count(15, 62), 3) << "inside the passage: every pass";
        EXPECT_EQ(count(15, 63), 3);
        EXPECT_EQ(count(15, 64), 0) << "at B: never";
        EXPECT_EQ(count(1, 50), 3);
        ExpectNothingLeftSounding(shorts);
        for (const KeyLight& light : P().GetKeyLights().Keys()) {
            EXPECT_FALSE(light.lit);
        }
    }
}

TEST_F(PassageTest, TheLessonWaitsAtEveryChordOfEveryPass) {
    core->AddLoadedSong(LoopSong().Load(), 1);
    core->SetLoop(LoopSpan{1000, 2000}, 2);
    core->SeekTo(0);
    core->StartPlay(PlayMode::MyPaceLesson);
    std::vector<int> awaitedKeys;
    for (int guard = 0; guard < 20 && core->CurrentPlayState() != Stopped; ++guard) {
        PlayUntil(0xFFFFFFFFu);
        if (core->CurrentPlayState() == Stopped) {
            break;
        }
        ASSERT_TRUE(P().Waiting());
        const int key = P().GetTimeline().Events()[P().GetLesson().AwaitedChord().index[0]].data1;
        awaitedKeys.push_back(key);
        P().SetKeyDown(key, true);
        Tick(2);
        P().SetKeyDown(key, false);
    }
    EXPECT_EQ(awaitedKeys, (std::vector<int>{60, 61, 62, 63, 62, 63}));
}

TEST_F(PassageTest, AJumpWhileTheLessonWaitsEndsTheChordSentAheadAndWaitsAtTheNewPlace) {
    core->AddLoadedSong(LoopSong().Load(), 1);
    core->StartPlay(PlayMode::MyPaceLesson);
    PlayUntil(0xFFFFFFFFu);
    ASSERT_TRUE(P().Waiting());
    ASSERT_EQ(P().GetTimeline().Events()[P().GetLesson().AwaitedChord().index[0]].data1, 60);
    Take();

    core->SeekTo(2600);
    const std::vector<uint32_t> sent = Shorts(Take());
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], Msg(0x8F, 60, 0)) << "the chord sounded ahead is ended";
    EXPECT_FALSE(P().Waiting());
    PlayUntil(0xFFFFFFFFu);
    ASSERT_TRUE(P().Waiting());
    EXPECT_EQ(P().GetTimeline().Events()[P().GetLesson().AwaitedChord().index[0]].data1, 66)
        << "the first chord at or after 2600";
    EXPECT_GE(P().SongTime(), 2600u);
}

TEST_F(PassageTest, ALoopWhoseEndLiesPastTheSongWaitsForItThenGoesBack) {
    core->AddLoadedSong(LoopSong().Load(), 1);
    core->SetLoop(LoopSpan{3000, 6000}, 2);
    core->SeekTo(3000);
    core->StartPlay(PlayMode::ModelPerformance);
    std::vector<RecordedMessage> sent;
    PlayLessonUntilStopped(sent);
    EXPECT_EQ(core->LoopPassesPlayed(), 2);
    const std::map<uint32_t, int> counts = NoteOnCounts(Shorts(sent));
    EXPECT_EQ(counts.at((68u << 8) | 0x9F), 2) << "the song's last note, once a pass";
    EXPECT_EQ(counts.count((65u << 8) | 0x9F), 0u);
    // About 3 s a pass, the second ending where B lies.
    EXPECT_GE(ManualClock::Get(), 1000u + 6000u - 10u);
}

// A loop that does not hold the place is of no use there: setting it moves the next start to A,
// or jumps there while playing; a place inside stays.
TEST_F(PassageTest, ALoopSetAwayFromThePlaceMovesItToA) {
    core->AddLoadedSong(LoopSong().Load(), 1);
    core->SeekTo(2600);
    core->SetLoop(LoopSpan{1000, 2000});
    EXPECT_EQ(core->PassageStart(), 1000u);
    core->SetLoop(LoopSpan{500, 2000});
    EXPECT_EQ(core->PassageStart(), 1000u) << "inside: stays";
    core->SetLoop(LoopSpan{0, 1000});
    EXPECT_EQ(core->PassageStart(), 0u) << "at B: outside";

    core->SetLoop(std::nullopt);
    core->StartPlay(PlayMode::ModelPerformance);
    PlayUntil(2500);
    core->SetLoop(LoopSpan{1000, 2000});
    Tick();
    EXPECT_GE(P().SongTime(), 1000u);
    EXPECT_LT(P().SongTime(), 1100u);
}

TEST_F(PassageTest, SeekingAndLoopingWithoutAPerformanceOrOutsideTheLoopIsHarmless) {
    core->SeekTo(1234);  // no song: only remembered
    EXPECT_EQ(core->ShownSongTime(), 1234u);
    core->SetLoop(LoopSpan{500, 500});
    EXPECT_FALSE(core->Loop().has_value()) << "an empty passage is no loop";
    core->SeekTo(0);

    core->AddLoadedSong(LoopSong().Load(), 1);
    core->SetLoop(LoopSpan{0, 1000});
    core->StartPlay(PlayMode::ModelPerformance);
    PlayUntil(400);
    core->SeekTo(3000);  // past B: plays on to the end
    std::vector<RecordedMessage> sent;
    PlayLessonUntilStopped(sent);
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    EXPECT_EQ(core->LoopPassesPlayed(), 0);
}

}  // namespace
