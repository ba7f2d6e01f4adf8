#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace {

// A performance on a recording output, built from the writer's song.
struct Rig {
    RecordingOutput output;
    Performance p;
    explicit Rig(const SmfWriter& writer, uint32_t practiceMask = 1) : p(output.out) {
        p.Build(*writer.Load());
        for (int ch = 0; ch < 16; ++ch) {
            p.SetPracticeChannel(ch, (practiceMask >> ch) & 1u);
        }
        p.Rewind();
        output.service.ClearSent();
    }
    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> s = output.service.SentShort();
        output.service.ClearSent();
        return s;
    }
};

SmfWriter LongSong() {
    SmfWriter w;
    w.Note(100000, 1, 60, 10);
    return w;
}

TEST(Speed, HalfSpeedMovesZeroAndOneAlternately) {
    Rig rig(LongSong());
    rig.p.SetSpeedPercent(50);
    rig.p.Advance(1);  // re-bases: the song does not move
    EXPECT_EQ(rig.p.SongTime(), 0u);
    std::vector<uint32_t> deltas;
    for (uint32_t e = 2; e <= 9; ++e) {
        const uint32_t before = rig.p.SongTime();
        rig.p.Advance(e);
        deltas.push_back(rig.p.SongTime() - before);
    }
    EXPECT_EQ(deltas, (std::vector<uint32_t>{0, 1, 0, 1, 0, 1, 0, 1}));
}

TEST(Speed, FastSpeedMovesOneOrTwoTruncatedFromTheRebase) {
    Rig rig(LongSong());
    rig.p.SetSpeedPercent(120);
    rig.p.Advance(1);
    for (uint32_t e = 2; e <= 51; ++e) {
        const uint32_t before = rig.p.SongTime();
        rig.p.Advance(e);
        const uint32_t delta = rig.p.SongTime() - before;
        EXPECT_TRUE(delta == 1 || delta == 2) << "step " << e;
        EXPECT_EQ(rig.p.SongTime(), (e - 1) * 120 / 100);
    }
}

TEST(Speed, StallMovesAtMostOneHundredMillisecondsOfClock) {
    Rig normal(LongSong());
    normal.p.SetSpeedPercent(100);
    normal.p.Advance(1);
    normal.p.Advance(251);
    EXPECT_EQ(normal.p.SongTime(), 100u);

    Rig fast(LongSong());
    fast.p.SetSpeedPercent(120);
    fast.p.Advance(1);
    fast.p.Advance(251);
    EXPECT_EQ(fast.p.SongTime(), 120u);

    // A clock that did not move changes nothing.
    fast.p.Advance(251);
    fast.p.Advance(200);
    EXPECT_EQ(fast.p.SongTime(), 120u);
}

TEST(Speed, ChangeContinuesFromTheCurrentPositionWithoutAJump) {
    Rig rig(LongSong());
    for (uint32_t e = 100; e <= 10000; e += 100) {
        rig.p.Advance(e);
    }
    ASSERT_EQ(rig.p.SongTime(), 10000u);
    rig.p.SetSpeedPercent(50);
    rig.p.Advance(10100);
    EXPECT_EQ(rig.p.SongTime(), 10000u);
    rig.p.Advance(10200);
    EXPECT_EQ(rig.p.SongTime(), 10050u);
    rig.p.SetSpeedPercent(120);
    rig.p.Advance(10300);
    EXPECT_EQ(rig.p.SongTime(), 10050u);
    rig.p.Advance(10400);
    EXPECT_EQ(rig.p.SongTime(), 10170u);
}

TEST(Silencing, AccompanimentRemembersVolumesAndModelPerformanceRestoresThem) {
    SmfWriter w;
    w.Control(10, 0, 7, 90).Control(10, 1, 7, 80).Note(20, 0, 60, 10).Note(20, 1, 50, 10);
    w.Note(5000, 1, 50, 10);
    Rig rig(w, /*practice*/ 1);
    std::vector<std::pair<int, bool>> observed;
    rig.p.SetNoteOnObserver(
        [](void* data, int channel, int, int, bool muted) {
            static_cast<std::vector<std::pair<int, bool>>*>(data)->push_back({channel, muted});
        },
        &observed);

    rig.p.SetMuteMode(MutePractice);
    // Channel 0 is the practice channel; it plays on the spare channel 15, which gets no
    // volume of its own.
    std::vector<uint32_t> expected = {Msg(0xBF, 7, 0)};
    for (int ch = 1; ch < 15; ++ch) {
        expected.push_back(Msg(0xB0 + ch, 7, 100));
    }
    EXPECT_EQ(rig.Sent(), expected);

    rig.p.Advance(1);
    rig.p.Advance(25);
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0xBF, 7, 0), Msg(0xB1, 7, 80),
                                                 Msg(0x9F, 60, 100), Msg(0x91, 50, 100)}));
    EXPECT_EQ(rig.p.GetPlayer().Volume(0), 90);
    EXPECT_EQ(observed, (std::vector<std::pair<int, bool>>{{0, true}, {1, false}}));
    // The stored timeline keeps the song's own value.
    for (const PerformanceEvent& e : rig.p.GetTimeline().Events()) {
        if (e.status == 0xB0 && e.channel == 0) {
            EXPECT_EQ(e.data2, 90);
        }
    }

    rig.p.SetMuteMode(MuteNone);
    const std::vector<uint32_t> restore = rig.Sent();
    ASSERT_EQ(restore.size(), 15u);
    EXPECT_EQ(restore[0], Msg(0xBF, 7, 90));
    EXPECT_EQ(restore[1], Msg(0xB1, 7, 80));
    EXPECT_EQ(restore[2], Msg(0xB2, 7, 100));
}

TEST(Silencing, SoloWithoutPracticeChannelSilencesEveryChannel) {
    SmfWriter w;
    w.Note(0, 0, 60, 10).Note(0, 3, 60, 10).Note(9000, 3, 60, 10);
    Rig rig(w, /*practice*/ 0);
    rig.p.SetMuteMode(MuteNonPractice);
    std::vector<uint32_t> expected;
    for (int ch = 0; ch < 16; ++ch) {
        if (ch != 15) {
            expected.push_back(Msg(0xB0 + (ch == 0 ? 15 : ch), 7, 0));
        }
    }
    EXPECT_EQ(rig.Sent(), expected);

    rig.p.SetMuteMode(MutePractice);  // accompaniment without practice channel: nothing silent
    for (uint32_t m : rig.Sent()) {
        EXPECT_EQ(m >> 16, 100u);
    }

    // Ticking a channel while a mode silences re-applies the volumes.
    rig.p.SetPracticeChannel(3, true);
    EXPECT_EQ(rig.Sent()[3], Msg(0xB3, 7, 0));
    rig.p.SetPracticeChannel(3, true);  // no change, nothing sent
    EXPECT_TRUE(rig.Sent().empty());
}

TEST(Silencing, WithoutOutputOnlyTheModeChanges) {
    SmfWriter w;
    w.Note(0, 0, 60, 10);
    Performance p(nullptr);
    p.Build(*w.Load());
    p.SetMuteMode(MutePractice);
    EXPECT_EQ(p.GetPlayer().CurrentMuteMode(), MutePractice);
    EXPECT_FALSE(p.GetPlayer().Muted(0));
    p.Rewind();
    p.Advance(1);
    p.Advance(20);
    p.UpdateKeyLights(5);
    EXPECT_TRUE(p.AtEnd());
}

TEST(Output, SysexIsFollowedByVolumeZeroOnTheLightingChannel) {
    SmfWriter w;
    w.Add(5, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).Note(5, 2, 60, 10);
    Rig rig(w);
    rig.p.Advance(1);
    rig.p.Advance(6);
    const std::vector<RecordedMessage> sent = rig.output.service.Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_TRUE(sent[0].sysex);  // a sysex goes before the channel messages of its time
    EXPECT_EQ(sent[0].bytes, (std::vector<uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(sent[1].packed, Msg(0xB0, 7, 0));
    EXPECT_EQ(sent[2].packed, Msg(0x92, 60, 100));
}

// A reset message brings every channel back to full volume on a General MIDI device; the
// channels that accompaniment silences must be silenced again right after it.
TEST(Output, SysexSilencesTheMutedChannelsAgain) {
    SmfWriter w;
    w.Add(5, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).Note(5, 2, 60, 10).Note(5, 3, 62, 10);
    Rig rig(w, 0b10);  // MIDI channel 2 is the practice channel
    rig.p.SetMuteMode(MutePractice);
    rig.output.service.ClearSent();
    rig.p.Advance(1);
    rig.p.Advance(6);
    const std::vector<RecordedMessage> sent = rig.output.service.Sent();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_TRUE(sent[0].sysex);
    EXPECT_EQ(sent[1].packed, Msg(0xB0, 7, 0));  // the lighting channel
    EXPECT_EQ(sent[2].packed, Msg(0xB1, 7, 0));  // the silenced practice channel
    EXPECT_EQ(sent[3].packed, Msg(0x92, 60, 100));
    EXPECT_EQ(sent[4].packed, Msg(0x93, 62, 100));
}

TEST(Output, FailuresAreReportedAndPlayingGoesOn) {
    SmfWriter w;
    w.Add(5, {0xF0, 1, 2, 0xF7}).Note(5, 2, 60, 10).Note(50, 2, 62, 10);
    Rig rig(w);
    DebugCapture debug;
    rig.output.service.FailShortSends(true);
    rig.output.service.FailSysexSends(true);
    rig.p.Advance(1);
    rig.p.Advance(6);
    EXPECT_EQ(debug.Lines(), (std::vector<std::string>{">midiOutLongMsg() was fail.",
                                                       ">midiOutShortMsg() was fail."}));
    rig.output.service.FailShortSends(false);
    rig.output.service.FailSysexSends(false);
    rig.p.Advance(55);
    EXPECT_EQ(rig.Sent(), (std::vector<uint32_t>{Msg(0x82, 60, 64), Msg(0x92, 62, 100)}));
}

// The device never finishes: the wait gives up after a second, the buffer stays the device's.
TEST(Output, UnfinishedSysexIsGivenUpAfterASecond) {
    SmfWriter w;
    w.Add(5, {0xF0, 1, 2, 0xF7});
    Rig rig(w);
    rig.output.service.SetSysexCompletion(SysexCompletion::Never);
    DebugCapture debug;
    rig.p.Advance(1);
    rig.p.Advance(6);
    EXPECT_EQ(debug.Lines(), (std::vector<std::string>{">midiOutUnprepareHeader() was fail."}));
    EXPECT_EQ(rig.output.service.PendingSysexCount(), 1);
    EXPECT_TRUE(rig.output.service.SentShort().empty());  // no volume message after a failure
    rig.output.service.CompletePendingSysex();
}

}  // namespace
