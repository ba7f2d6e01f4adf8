#include <gtest/gtest.h>

#include <algorithm>

#include "engine_test_support.h"

namespace {

struct Rig {
    RecordingOutput output;
    Performance p;
    explicit Rig(const SmfWriter& writer, bool lesson, uint32_t practiceMask = 1) : p(output.out) {
        p.Build(*writer.Load());
        for (int ch = 0; ch < 16; ++ch) {
            p.SetPracticeChannel(ch, (practiceMask >> ch) & 1u);
        }
        p.SetWaitForPlayer(lesson);
        p.SetPreLight(lesson);
        p.Rewind();
        output.service.ClearSent();
    }
    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> s = output.service.SentShort();
        output.service.ClearSent();
        return s;
    }
    std::vector<int> ChordKeys(const Chord& c) const {
        std::vector<int> keys;
        for (int s = 0; s < c.count; ++s) {
            keys.push_back(p.GetTimeline().Events()[c.index[s]].data1);
        }
        return keys;
    }
};

size_t CountOf(const std::vector<uint32_t>& v, uint32_t m) {
    return static_cast<size_t>(std::count(v.begin(), v.end(), m));
}

TEST(Chords, GroupPracticeNotesWithinTenMillisecondsOfTheFirst) {
    SmfWriter w;
    w.NoteOn(0, 0, 60).NoteOn(4, 0, 61).NoteOn(10, 0, 62).NoteOn(11, 0, 63);  // 0-10, then 11
    w.NoteOn(100, 0, 70).NoteOn(108, 0, 71).NoteOn(116, 0, 72);               // window from 100
    w.NoteOn(200, 0, 80).NoteOn(205, 1, 81).NoteOn(207, 0, 82).NoteOn(207, 0, 83, 0);
    Rig rig(w, false);
    std::vector<std::vector<int>> chords;
    for (int i = 0; i < 10 && rig.p.GetLesson().PendingChord().count > 0; ++i) {
        chords.push_back(rig.ChordKeys(rig.p.GetLesson().PendingChord()));
        ASSERT_TRUE(rig.p.CheckChordDue(0xFFFFFFFFu));
        rig.p.FindNextChord();
    }
    // A non-practice note and a velocity-0 note-on neither join a chord nor end it.
    EXPECT_EQ(chords,
              (std::vector<std::vector<int>>{{60, 61, 62}, {63}, {70, 71}, {72}, {80, 82}}));
}

TEST(Chords, NoPracticeChannelMeansNoChordNoLightNoWaiting) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(500, 0, 62, 100);
    Rig rig(w, true, 0);
    EXPECT_EQ(rig.p.GetLesson().PendingChord().count, 0);
    for (uint32_t e = 1; e < 700; e += 7) {
        rig.p.Advance(e);
        rig.p.UpdateKeyLights(e);
    }
    EXPECT_TRUE(rig.p.AtEnd());
    for (uint32_t m : rig.Sent()) {
        EXPECT_NE(m & 0xFF, 0x90u) << std::hex << m;  // no lighting
    }
}

TEST(KeyLights, ChordLightsWhenDueAndGoesDarkWithItsNoteOff) {
    SmfWriter w;
    w.Note(0, 0, 60, 2000).Note(0, 0, 64, 30);
    Rig rig(w, false);
    rig.p.Advance(1);
    rig.p.UpdateKeyLights(1000);
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x9F, 60, 100), Msg(0x9F, 64, 100),
                                                 Msg(0x90, 60, 127), Msg(0x90, 64, 127)}));
    rig.p.UpdateKeyLights(1000);  // same clock value: nothing again
    rig.p.UpdateKeyLights(1001);  // nothing changed: nothing sent
    EXPECT_TRUE(rig.Sent().empty());
    rig.p.Advance(31);
    rig.p.UpdateKeyLights(1031);
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x8F, 64, 64), Msg(0x90, 64, 0)}));
    rig.p.Advance(100);
    for (uint32_t e = 200; e <= 2000; e += 100) {
        rig.p.Advance(e);
    }
    rig.p.UpdateKeyLights(3000);
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x8F, 60, 64), Msg(0x90, 60, 0)}));
}

TEST(KeyLights, OverlappingNotesOfOneKeyKeepTheKeyLitUntilTheLastEnds) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(50, 0, 60, 150);  // second note-off at 200
    Rig rig(w, false);
    rig.p.Advance(1);
    rig.p.Advance(60);
    EXPECT_EQ(rig.p.GetKeyLights().BrightNoteCount(), 2u);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 1);
    rig.p.Advance(100);  // first note-off: the second note still sounds
    EXPECT_EQ(rig.p.GetKeyLights().BrightNoteCount(), 1u);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 1);
    rig.p.Advance(200);
    EXPECT_EQ(rig.p.GetKeyLights().BrightNoteCount(), 0u);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 0);
}

// Seventeen practice notes at one moment: ten make a chord, the rest the next one, which is due
// at once as well. Every key goes dark with its own note-off, and nothing is reported.
TEST(KeyLights, SeventeenLitNotesAllGoDarkAndEleventhNoteStartsTheNextChord) {
    SmfWriter w;
    for (int k = 0; k < 17; ++k) {
        w.Note(5, 0, 40 + k, 100 + k);
    }
    w.Note(1000, 0, 90, 10);
    Rig rig(w, false);
    DebugCapture debug;
    rig.p.Advance(1);
    rig.p.Advance(6);
    EXPECT_EQ(rig.p.GetKeyLights().BrightNoteCount(), 17u);
    for (int k = 0; k < 17; ++k) {
        EXPECT_EQ(rig.p.GetKeyLights().Key(40 + k).lit, 1) << k;
    }
    EXPECT_EQ(rig.ChordKeys(rig.p.GetLesson().PendingChord()), (std::vector<int>{90}));
    rig.p.Advance(106);
    rig.p.Advance(112);  // note-offs of the first eight keys
    for (int k = 0; k < 17; ++k) {
        EXPECT_EQ(rig.p.GetKeyLights().Key(40 + k).lit, k < 8 ? 0 : 1) << k;
    }
    rig.p.Advance(200);
    for (int k = 0; k < 17; ++k) {
        EXPECT_EQ(rig.p.GetKeyLights().Key(40 + k).lit, 0) << k;
    }
    EXPECT_TRUE(debug.Lines().empty());
}

// One long step passes two chords: both light, and the chord after them still comes due.
TEST(KeyLights, AStepPastTwoChordsLightsBothAndKeepsTheChain) {
    SmfWriter w;
    w.Note(0, 0, 60, 500).Note(20, 0, 62, 500).Note(300, 0, 64, 500);
    Rig rig(w, false);
    rig.p.Advance(1);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 1);
    rig.p.Advance(100);  // 99 ms in one step
    EXPECT_EQ(rig.p.GetKeyLights().Key(62).lit, 1);
    rig.p.Advance(200);
    rig.p.Advance(301);
    EXPECT_EQ(rig.p.GetKeyLights().Key(64).lit, 1);
}

TEST(Lesson, StepByStep) {
    SmfWriter w;
    w.Note(1000, 0, 60, 500).Note(1000, 0, 64, 500);  // first chord
    w.Note(1500, 1, 40, 100);                         // accompaniment
    w.Note(2000, 0, 67, 300);                         // second chord
    Rig rig(w, true);

    // The second before the chord: its keys flash, lit while the clock modulo 32 is 0-9.
    rig.p.Advance(1);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).preLit, 1);
    EXPECT_EQ(rig.p.GetKeyLights().Key(64).preLit, 1);
    rig.p.UpdateKeyLights(64);  // 64 % 32 == 0
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x90, 60, 127), Msg(0x90, 64, 127)}));
    rig.p.UpdateKeyLights(73);  // 9: still lit
    EXPECT_TRUE(rig.Sent().empty());
    rig.p.UpdateKeyLights(74);  // 10: dark
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x90, 60, 0), Msg(0x90, 64, 0)}));
    rig.p.UpdateKeyLights(95);  // 31: dark, nothing sent
    rig.p.UpdateKeyLights(96);  // 0 again
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x90, 60, 127), Msg(0x90, 64, 127)}));

    // Due: the chord sounds at once, lights steadily and the song waits.
    for (uint32_t e = 100; e <= 1000; e += 100) {
        rig.p.Advance(e);
    }
    EXPECT_EQ(rig.p.SongTime(), 1000u);
    EXPECT_TRUE(rig.p.Waiting());
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 1);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).preLit, 0);
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x9F, 60, 100), Msg(0x9F, 64, 100)}));
    const uint32_t cursor = rig.p.GetPlayer().Cursor();

    // The song stands still while keys are missing; each key seen held is crossed off.
    rig.p.Advance(1100);
    rig.p.Advance(1200);
    EXPECT_EQ(rig.p.SongTime(), 1000u);
    EXPECT_EQ(rig.p.GetPlayer().Cursor(), cursor);
    rig.p.SetKeyDown(60, true);
    rig.p.Advance(1300);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 0);
    EXPECT_EQ(rig.p.GetKeyLights().Key(64).lit, 1);
    EXPECT_TRUE(rig.p.Waiting());
    rig.p.SetKeyDown(60, false);  // released before the other key: still counts as played
    rig.p.SetKeyDown(64, true);
    rig.p.Advance(1400);
    EXPECT_FALSE(rig.p.Waiting());
    EXPECT_EQ(rig.p.SongTime(), 1000u);
    EXPECT_TRUE(rig.Sent().empty());  // the held chord's note-ons are not sent again
    rig.p.Advance(1500);
    EXPECT_EQ(rig.p.SongTime(), 1100u);

    // A key held since before its chord was due lets the song go on at once.
    rig.p.SetKeyDown(67, true);
    for (uint32_t e = 1600; e <= 2400; e += 100) {
        rig.p.Advance(e);
    }
    EXPECT_EQ(rig.p.SongTime(), 2000u);
    EXPECT_FALSE(rig.p.Waiting());
    const std::vector<uint32_t> sent = rig.Sent();
    EXPECT_EQ(CountOf(sent, Msg(0x9F, 67, 100)), 1u);
    EXPECT_EQ(CountOf(sent, Msg(0x91, 40, 100)), 1u);
    for (uint32_t e = 2500; e <= 2700; e += 100) {
        rig.p.Advance(e);
    }
    EXPECT_TRUE(rig.p.AtEnd());
}

// The lesson keeps its own record of the notes it sent ahead: the player skips each of them
// once, also where the record crosses from one word of bits to the next, and a rewind forgets
// them, so that a run in another mode sends them in turn.
TEST(Lesson, NotesSentAheadAreSkippedOnceAndForgottenByARewind) {
    SmfWriter w;
    for (uint32_t k = 0; k < 63; ++k) {
        w.NoteOn(k, 1, static_cast<int>(20 + k));
    }
    w.Note(1000, 0, 60, 100).Note(1000, 0, 64, 100);
    Rig rig(w, true);
    const Chord& chord = rig.p.GetLesson().PendingChord();
    ASSERT_EQ(chord.count, 2);
    ASSERT_EQ(chord.index[0], 63u);
    ASSERT_EQ(chord.index[1], 64u);
    auto playTo = [&rig](uint32_t from, uint32_t to) {
        for (uint32_t e = from; e <= to; e += 100) {
            rig.p.Advance(e);
        }
    };
    auto chordNotesSent = [&rig] {
        const std::vector<uint32_t> sent = rig.Sent();
        return CountOf(sent, Msg(0x9F, 60, 100)) + CountOf(sent, Msg(0x9F, 64, 100));
    };

    playTo(100, 1000);
    ASSERT_TRUE(rig.p.Waiting());
    EXPECT_EQ(chordNotesSent(), 2u);
    rig.p.SetKeyDown(60, true);
    rig.p.SetKeyDown(64, true);
    playTo(1100, 1300);
    EXPECT_GE(rig.p.SongTime(), 1100u);
    EXPECT_EQ(chordNotesSent(), 0u);

    rig.p.SetKeyDown(60, false);
    rig.p.SetKeyDown(64, false);
    rig.p.Rewind();
    playTo(100, 1000);
    ASSERT_TRUE(rig.p.Waiting());
    EXPECT_EQ(chordNotesSent(), 2u);
    rig.p.Rewind();
    rig.p.SetWaitForPlayer(false);
    playTo(100, 1300);
    EXPECT_EQ(chordNotesSent(), 2u);
}

TEST(Lesson, EndsOnlyAfterTheLastChordIsPlayed) {
    SmfWriter w;
    w.Note(10, 0, 60, 10).Note(10, 2, 30, 100);
    Rig rig(w, true);
    for (uint32_t e = 1; e < 2000; e += 50) {
        rig.p.Advance(e);
    }
    EXPECT_FALSE(rig.p.AtEnd());
    EXPECT_EQ(rig.p.SongTime(), 51u);  // the step that reached the chord, then held
    rig.p.SetKeyDown(60, true);
    rig.p.Advance(2001);
    rig.p.Advance(2101);
    EXPECT_TRUE(rig.p.AtEnd());
}

TEST(Lesson, TickingAChannelWhileWaitingDarkensButKeepsWaiting) {
    SmfWriter w;
    w.Note(10, 0, 60, 10).Note(100, 1, 50, 10).Note(200, 0, 62, 10);
    Rig rig(w, true);
    rig.p.Advance(1);
    rig.p.Advance(20);
    ASSERT_TRUE(rig.p.Waiting());
    rig.p.SetPracticeChannel(1, true);
    rig.p.RestartChordSearch();
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 0);
    EXPECT_EQ(rig.ChordKeys(rig.p.GetLesson().PendingChord()),
              (std::vector<int>{50}));  // from the new channels
    rig.p.Advance(40);
    EXPECT_TRUE(rig.p.Waiting());
    rig.p.SetKeyDown(60, true);
    rig.p.Advance(60);
    EXPECT_FALSE(rig.p.Waiting());
}

// Several chords left behind while the lesson waited come due one after the other.
TEST(Lesson, ChordsPassedByOneStepAreAwaitedInTurn) {
    SmfWriter w;
    w.Note(10, 0, 60, 200).Note(30, 0, 62, 200).Note(50, 0, 64, 200).Note(1000, 1, 20, 10);
    Rig rig(w, true);
    rig.p.Advance(1);
    rig.p.Advance(90);  // one step past all three chords
    EXPECT_EQ(rig.ChordKeys(rig.p.GetLesson().AwaitedChord()), (std::vector<int>{60}));
    rig.p.SetKeyDown(60, true);
    rig.p.Advance(95);
    EXPECT_EQ(rig.ChordKeys(rig.p.GetLesson().AwaitedChord()), (std::vector<int>{62}));
    EXPECT_TRUE(rig.p.Waiting());
    EXPECT_EQ(rig.p.SongTime(), 90u);
    rig.p.SetKeyDown(62, true);
    rig.p.SetKeyDown(64, true);
    rig.p.Advance(100);
    EXPECT_FALSE(rig.p.Waiting());
    const std::vector<uint32_t> sent = rig.Sent();
    for (int key : {60, 62, 64}) {
        EXPECT_EQ(CountOf(sent, Msg(0x9F, key, 100)), 1u) << key;
    }
}

TEST(Lesson, SwitchingToModelPerformanceDropsTheAwaitedChord) {
    SmfWriter w;
    w.Note(10, 0, 60, 10).Note(100, 1, 50, 10);
    Rig rig(w, true);
    rig.p.Advance(1);
    rig.p.Advance(20);
    ASSERT_TRUE(rig.p.Waiting());
    rig.p.SetWaitForPlayer(false);
    rig.p.SetPreLight(false);
    rig.p.Advance(40);  // still holds the song time, then stops waiting
    EXPECT_EQ(rig.p.SongTime(), 20u);
    EXPECT_FALSE(rig.p.Waiting());
    rig.p.Advance(60);
    EXPECT_EQ(rig.p.SongTime(), 40u);
}

}  // namespace
