// Repeated notes of one key: in legato and quantised songs a note often ends on the tick where
// the next note of its key starts. The key's light and the new note must both survive that.

#include <gtest/gtest.h>

#include <algorithm>

#include "engine_test_support.h"

namespace {

struct ModeSetup {
    const char* name;
    bool lesson;
    MuteMode mute;
};

constexpr ModeSetup kModes[] = {
    {"model", false, MuteNone},
    {"lesson", true, MuteNone},
    {"accompaniment", false, MutePractice},
    {"solo", false, MuteNonPractice},
};

struct Rig {
    RecordingOutput output;
    Performance p;
    Rig(const SmfWriter& writer, const ModeSetup& mode, uint32_t practiceMask = 1) : p(output.out) {
        p.Build(*writer.Load());
        for (int ch = 0; ch < 16; ++ch) {
            p.SetPracticeChannel(ch, (practiceMask >> ch) & 1u);
        }
        p.SetWaitForPlayer(mode.lesson);
        p.SetPreLight(mode.lesson);
        p.Rewind();
        p.SetMuteMode(mode.mute);
        output.service.ClearSent();
    }
    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> s = output.service.SentShort();
        output.service.ClearSent();
        return s;
    }
    // One clock step of 5 ms, with the key lights updated as the clock thread does.
    void Step() {
        elapsed += 5;
        p.Advance(elapsed);
        p.UpdateKeyLights(elapsed);
    }
    // Steps until the song reaches the time or the lesson waits.
    void PlayUntil(uint32_t songTime) {
        for (int guard = 0; guard < 10000 && p.SongTime() < songTime && !p.Waiting(); ++guard) {
            Step();
        }
    }
    uint32_t elapsed = 0;
};

size_t CountOf(const std::vector<uint32_t>& v, uint32_t m) {
    return static_cast<size_t>(std::count(v.begin(), v.end(), m));
}

// Key 60 three times in a row, each note ending where the next begins, and a chord of three
// keys that repeats the same way; one accompaniment note on channel 2 keeps the spare channel.
SmfWriter RepeatedSong() {
    SmfWriter w;
    for (uint32_t t : {100u, 400u, 700u}) {
        w.Note(t, 0, 60, 300);
        w.Note(t, 0, 64, 300).Note(t, 0, 67, 300).Note(t, 0, 71, 300);
    }
    w.Note(100, 1, 40, 50);
    return w;
}

TEST(RepeatedNotes, KeysStayLitAcrossNotesThatEndAndStartOnOneTick) {
    for (const ModeSetup& mode : kModes) {
        SCOPED_TRACE(mode.name);
        Rig rig(RepeatedSong(), mode);
        for (uint32_t chordTime : {100u, 400u, 700u}) {
            rig.PlayUntil(chordTime);
            for (int key : {60, 64, 67, 71}) {
                EXPECT_EQ(rig.p.GetKeyLights().Key(key).lit, 1) << key << " at " << chordTime;
            }
            if (mode.lesson) {
                EXPECT_TRUE(rig.p.Waiting());
                for (int key : {60, 64, 67, 71}) {
                    rig.p.SetKeyDown(key, true);
                }
                rig.Step();
                EXPECT_FALSE(rig.p.Waiting());
                for (int key : {60, 64, 67, 71}) {
                    rig.p.SetKeyDown(key, false);
                }
            } else {
                // Only the first chord turns the keys on; the repeats never darken them.
                const std::vector<uint32_t> sent = rig.Sent();
                for (int key : {60, 64, 67, 71}) {
                    EXPECT_EQ(CountOf(sent, Msg(0x90, key, 0)), 0u) << key;
                    EXPECT_EQ(CountOf(sent, Msg(0x90, key, 127)), chordTime == 100u ? 1u : 0u);
                }
            }
            rig.PlayUntil(chordTime + 295);
        }
        rig.PlayUntil(1010);
        for (int key : {60, 64, 67, 71}) {
            EXPECT_EQ(rig.p.GetKeyLights().Key(key).lit, 0) << key;
            EXPECT_EQ(rig.p.GetKeyLights().Key(key).shown, 0) << key;
        }
        EXPECT_EQ(rig.p.GetKeyLights().BrightNoteCount(), 0u);
    }
}

// One key on two practice channels: the key belongs to whichever note still sounds.
TEST(RepeatedNotes, AKeyStaysLitWhileANoteOfAnotherChannelStillSounds) {
    for (const ModeSetup& mode : kModes) {
        if (mode.lesson) {
            continue;  // the player's key press darkens the key in the lesson
        }
        SCOPED_TRACE(mode.name);
        SmfWriter w;
        w.Note(0, 0, 60, 300).Note(100, 1, 60, 100).Note(0, 2, 30, 10);
        Rig rig(w, mode, 0b11);
        rig.PlayUntil(250);
        EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 1);
        rig.PlayUntil(310);
        EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 0);
    }
}

// The lesson sounds a due chord at once, ahead of the events it holds back. The held-back
// note-off of the note before must still go out first, not cut the new note when the player
// completes the chord.
TEST(RepeatedNotes, LessonSendsTheEarlierNoteOffBeforeTheRepeatedNote) {
    SmfWriter w;
    w.Note(100, 0, 60, 200).Note(300, 0, 60, 200).Note(300, 0, 64, 200);
    w.Note(100, 1, 40, 400);
    Rig rig(w, kModes[1]);
    rig.PlayUntil(100);
    ASSERT_TRUE(rig.p.Waiting());
    rig.p.SetKeyDown(60, true);
    rig.Step();
    rig.p.SetKeyDown(60, false);
    rig.PlayUntil(295);
    rig.Sent();

    rig.PlayUntil(300);  // the repeated note is due
    ASSERT_TRUE(rig.p.Waiting());
    const std::vector<uint32_t> ahead = rig.Sent();
    const auto off = std::find(ahead.begin(), ahead.end(), Msg(0x8F, 60, 64));
    const auto on = std::find(ahead.begin(), ahead.end(), Msg(0x9F, 60, 100));
    ASSERT_NE(off, ahead.end());
    ASSERT_NE(on, ahead.end());
    EXPECT_LT(off, on);
    EXPECT_EQ(rig.p.GetKeyLights().Key(60).lit, 1);  // lit for the new note while the lesson waits
    EXPECT_EQ(rig.p.GetKeyLights().Key(64).lit, 1);

    rig.p.SetKeyDown(60, true);
    rig.p.SetKeyDown(64, true);
    rig.Step();
    EXPECT_FALSE(rig.p.Waiting());
    rig.PlayUntil(495);
    const std::vector<uint32_t> after = rig.Sent();
    EXPECT_EQ(CountOf(after, Msg(0x8F, 60, 64)), 0u);  // the new note sounds on
    EXPECT_EQ(CountOf(after, Msg(0x9F, 60, 100)), 0u);
    EXPECT_EQ(CountOf(after, Msg(0x81, 40, 64)), 0u);
    rig.PlayUntil(505);
    const std::vector<uint32_t> end = rig.Sent();
    EXPECT_EQ(CountOf(end, Msg(0x8F, 60, 64)), 1u);
    EXPECT_EQ(CountOf(end, Msg(0x81, 40, 64)), 1u);
}

}  // namespace
