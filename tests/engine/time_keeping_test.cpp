// The metronome and the count-in through the window core, on the manual clock: clicks on the
// beats of a song whose meter and tempo change, at several speeds, across a jump and a loop,
// standing still while the lesson waits; the count-in's length and what the song does meanwhile.

#include <gtest/gtest.h>

#include <algorithm>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/click_track.h"
#include "engine/count_in.h"
#include "smf/meter_map.h"

namespace {

std::vector<uint8_t> TimeSignature(int numerator, int denominatorPower) {
    return {
        0xFF, 0x58, 0x04, static_cast<uint8_t>(numerator), static_cast<uint8_t>(denominatorPower),
        24,   8};
}

// 3/4 at 120 (a beat of 500 ms; a tick is a millisecond) for a bar, then 7/8 at 100 from
// 1500 ms (an eighth of 300 ms). Notes on channel 1 on beats and off them; the last ends at
// 4740 ms.
SmfWriter MeterSong() {
    SmfWriter w;
    w.Add(0, TimeSignature(3, 2));
    w.Add(1500, TimeSignature(7, 3));
    w.Tempo(1500, 600000);
    w.Note(0, 0, 60, 400).Note(1000, 0, 62, 300).Note(1700, 0, 64, 200).Note(2000, 0, 65, 100);
    w.Note(4000, 0, 67, 200);
    return w;
}

// The beats of MeterSong that it reaches before it ends, in song ms, and the accented ones.
const std::vector<uint32_t> kBeats = {0,    500,  1000, 1500, 1800, 2100, 2400,
                                      2700, 3000, 3300, 3600, 3900, 4200, 4500};
bool Accented(uint32_t ms) {
    return ms == 0 || ms == 1500 || ms == 3600;
}

struct Click {
    uint32_t at;  // clock ms from the start's tick
    uint32_t songMs;
    bool accent;
    bool operator==(const Click&) const = default;
};

class TimeKeepingTest : public CoreFixture {
  protected:
    void SetUp() override {
        CoreFixture::SetUp();
        core->AddLoadedSong(MeterSong().Load(), 0b1);
        service.ClearSent();
    }
    Performance& P() { return *PerformanceOf(*core); }

    // Starts (or has started) and ticks every millisecond for ms or until play stops, collecting
    // the clicks and everything else sent.
    std::vector<Click> Run(uint32_t ms, std::vector<RecordedMessage>* others = nullptr) {
        std::vector<Click> clicks;
        for (uint32_t i = 0; i < ms && core->CurrentPlayState() != Stopped; ++i) {
            AdvanceAndTick(1);
            for (const RecordedMessage& m : service.TakeSent()) {
                const uint32_t status = m.packed & 0xFF;
                const uint32_t key = m.packed >> 8 & 0xFF;
                if (!m.sysex && status == (0x90u | ClickTrack::kChannel) &&
                    (key == ClickTrack::kAccentKey || key == ClickTrack::kBeatKey)) {
                    clicks.push_back(
                        {m.timeMs - m_start, P().SongTime(), key == ClickTrack::kAccentKey});
                } else if (others && !(!m.sysex && (status & 0x0F) == ClickTrack::kChannel &&
                                       (status & 0xF0) == 0x80)) {
                    others->push_back(m);
                }
            }
        }
        return clicks;
    }
    void Start(PlayMode mode) {
        core->StartPlay(mode);
        m_start = NowMs() + 1;  // the next tick starts play
    }
    uint32_t m_start = 0;
};

TEST_F(TimeKeepingTest, ClicksFallOnTheBeatsAtEverySpeedAndAddOnlyThemselves) {
    // The song's own messages without the metronome, to compare with.
    std::vector<RecordedMessage> plain;
    Start(PlayMode::ModelPerformance);
    EXPECT_TRUE(Run(6000, &plain).empty());
    const uint32_t plainStart = m_start;

    core->SetMetronome(true);
    for (const int speed : {50, 65, 100, 120}) {
        SCOPED_TRACE(speed);
        ASSERT_TRUE(core->SetSpeedPercent(speed));
        std::vector<RecordedMessage> others;
        Start(PlayMode::ModelPerformance);
        const std::vector<Click> clicks = Run(12000, &others);
        std::vector<Click> expected;
        for (const uint32_t beat : kBeats) {
            // The first clock ms whose song time reaches the beat; play starts one tick later.
            const auto at = std::max<uint32_t>(1, (beat * 100 + speed - 1) / speed);
            expected.push_back({at, at * static_cast<uint32_t>(speed) / 100, Accented(beat)});
        }
        EXPECT_EQ(clicks, expected);
        if (speed == 100) {
            // The song's own messages, at the same moments: the clicks only add to them.
            ASSERT_EQ(others.size(), plain.size());
            for (size_t i = 0; i < plain.size(); ++i) {
                EXPECT_EQ(others[i].packed, plain[i].packed) << i;
                EXPECT_EQ(others[i].timeMs - m_start, plain[i].timeMs - plainStart) << i;
            }
        }
    }
}

TEST_F(TimeKeepingTest, ClicksFollowAJumpAndEachPassOfALoop) {
    core->SetMetronome(true);
    Start(PlayMode::ModelPerformance);
    std::vector<Click> clicks = Run(700);
    core->SeekTo(2000);
    const std::vector<Click> after = Run(700);
    clicks.insert(clicks.end(), after.begin(), after.end());
    std::vector<uint32_t> songMs;
    for (const Click& c : clicks) {
        songMs.push_back(c.songMs);
    }
    // The first advance already moves the song a millisecond on.
    EXPECT_EQ(songMs, (std::vector<uint32_t>{1, 500, 2100, 2400, 2700}));
    core->StopPlay();

    // Two passes from a beat to just before another: each pass clicks the beat at A.
    core->SetLoop(LoopSpan{1800, 2400}, 2);
    Start(PlayMode::ModelPerformance);
    songMs.clear();
    for (const Click& c : Run(5000)) {
        songMs.push_back(c.songMs);
    }
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    EXPECT_EQ(songMs, (std::vector<uint32_t>{1801, 2100, 1801, 2100}));
}

TEST_F(TimeKeepingTest, ClicksStandStillWhileTheLessonWaits) {
    core->SetMetronome(true);
    Start(PlayMode::MyPaceLesson);
    // The first chord, at the first beat, is awaited: one click, then none for three seconds.
    EXPECT_EQ(Run(3000).size(), 1u);
    ASSERT_TRUE(P().Waiting());
    EXPECT_EQ(P().GetClicks().NextDueMs({NowMs(), true}), TimeSource::kNever);
    core->FromInput(Msg(0x90, 60, 100));
    core->FromInput(Msg(0x80, 60, 0));
    std::vector<uint32_t> songMs;
    for (const Click& c : Run(3000)) {
        songMs.push_back(c.songMs);
    }
    // On with the song up to the next chord, at the third beat, where it waits again.
    EXPECT_TRUE(P().Waiting());
    EXPECT_EQ(songMs, (std::vector<uint32_t>{500, 1000}));
}

// A practice part on channel 1 over drums on channel 10, a kick every 250 ms.
SmfWriter DrumSong() {
    SmfWriter w;
    for (uint32_t t = 0; t < 4000; t += 250) {
        w.Note(t, 9, 36, 100);
        w.Note(t, 0, 60, 200);
    }
    return w;
}

TEST_F(TimeKeepingTest, ClicksStayAudibleWhereTheModeSilencesTheDrums) {
    core->AddLoadedSong(DrumSong().Load(), 0b1);
    const uint32_t drumsDown = Msg(0xB9, 7, 0);
    auto count = [](const std::vector<RecordedMessage>& sent, auto pred) {
        return std::count_if(sent.begin(), sent.end(),
                             [&](const RecordedMessage& m) { return !m.sysex && pred(m.packed); });
    };
    auto kicks = [](uint32_t packed) { return (packed & 0xFFFF) == 0x2499; };

    // Solo without the metronome silences the drums by their volume, as ever.
    std::vector<RecordedMessage> sent;
    Start(PlayMode::Solo);
    Run(1000, &sent);
    EXPECT_EQ(count(sent, [&](uint32_t p) { return p == drumsDown; }), 1);
    EXPECT_GT(count(sent, kicks), 0);
    core->StopPlay();

    // With it, the drums' notes are left out and their channel keeps its volume for the clicks.
    core->SetMetronome(true);
    sent.clear();
    Start(PlayMode::Solo);
    EXPECT_EQ(Run(1000, &sent).size(), 2u);
    EXPECT_EQ(count(sent, [&](uint32_t p) { return p == drumsDown; }), 0);
    EXPECT_GE(count(sent, [&](uint32_t p) { return p == Msg(0xB9, 7, 100); }), 1);
    EXPECT_EQ(count(sent, kicks), 0);
    // Off while playing: silenced by volume again, and the kicks come back.
    sent.clear();
    core->SetMetronome(false);
    Run(1000, &sent);
    EXPECT_EQ(count(sent, [&](uint32_t p) { return p == drumsDown; }), 1);
    EXPECT_GT(count(sent, kicks), 0);
}

TEST(CountInPlanTest, CountsWholeBarsAtTheTempoOfThePlace) {
    // No time signature: 4/4 at 120.
    SmfWriter plain;
    plain.Note(0, 0, 60, 100).Note(8000, 0, 62, 100);
    const smf::MeterMap fourFour(*plain.Load());
    CountInPlan plan = PlanCountIn(fourFour, 3000, 2, 50);
    EXPECT_EQ(plan.lengthMs, 8000u);
    ASSERT_EQ(plan.clicks.size(), 8u);
    EXPECT_EQ(plan.clicks[5].atMs, 5000u);
    EXPECT_TRUE(plan.clicks[0].accent && plan.clicks[4].accent);
    EXPECT_FALSE(plan.clicks[1].accent || plan.clicks[7].accent);
    EXPECT_TRUE(PlanCountIn(fourFour, 3000, 0, 100).clicks.empty());

    // After the change to 7/8 at 100: seven eighths of 300 ms, whatever the tempo does later in
    // the bar.
    SmfWriter changing = MeterSong();
    changing.Tempo(2200, 250000);
    const smf::MeterMap meter(*changing.Load());
    plan = PlanCountIn(meter, 2000, 1, 100);
    EXPECT_EQ(plan.lengthMs, 2100u);
    ASSERT_EQ(plan.clicks.size(), 7u);
    EXPECT_EQ(plan.clicks[6].atMs, 1800u);
    EXPECT_EQ(PlanCountIn(meter, 2000, 1, 120).lengthMs, 1750u);
    // Before the change: three beats of 500 ms.
    EXPECT_EQ(PlanCountIn(meter, 1499, 1, 100).lengthMs, 1500u);
}

TEST_F(TimeKeepingTest, CountInHoldsTheSongAndPreLightsItsFirstChordUnscored) {
    ASSERT_TRUE(core->SetCountInBars(1));
    EXPECT_FALSE(core->SetCountInBars(3));
    EXPECT_FALSE(core->SetCountInBars(-1));
    core->SeekTo(1600);
    core->Practice().Queue().Take();
    Start(PlayMode::ModelPerformance);
    std::vector<RecordedMessage> others;
    const std::vector<Click> clicks = Run(2099, &others);
    // Seven eighths of 300 ms while the song stands at the place, its next chord pre-lit.
    ASSERT_EQ(clicks.size(), 7u);
    EXPECT_EQ(clicks[0], (Click{0, 1600, true}));
    EXPECT_EQ(clicks[6], (Click{1800, 1600, false}));
    EXPECT_TRUE(core->CountingIn());
    EXPECT_EQ(P().SongTime(), 1600u);
    EXPECT_TRUE(P().GetKeyLights().Key(64).preLit);
    for (const RecordedMessage& m : others) {
        // No note of the song (the key lights are on MIDI channel 1).
        const bool songNote =
            (m.packed & 0xF0) == 0x90 && (m.packed & 0x0F) != 0 && (m.packed >> 16 & 0xFF) != 0;
        EXPECT_FALSE(songNote) << std::hex << m.packed;
    }
    EXPECT_TRUE(core->Practice().Queue().Take().empty());  // nothing scored yet

    // The song starts at the end of the bar, with the first run beginning there.
    Run(101);
    EXPECT_FALSE(core->CountingIn());
    EXPECT_EQ(core->CurrentPlayState(), Playing);
    EXPECT_EQ(P().SongTime(), 1699u);
    const std::vector<PracticeEvent> events = core->Practice().Queue().Take();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].kind, PracticeEvent::RunStart);
    EXPECT_EQ(events[0].clockMs - m_start, 2100u);
    EXPECT_EQ(events[0].songMs, 1600u);
}

TEST_F(TimeKeepingTest, EachPassOfALoopCountsInUnscoredWhenAsked) {
    core->SetCountInBars(1);
    core->SetLoopCountIn(true);
    core->SetLoop(LoopSpan{1800, 2400}, 2);
    Start(PlayMode::Accompaniment);
    // The start's count-in (seven eighths of 300 ms), the first pass of 600 ms, then the same
    // count-in at A before the second pass; the player presses the next note's key meanwhile.
    std::vector<Click> clicks = Run(3000);
    EXPECT_TRUE(core->CountingIn());
    EXPECT_EQ(P().SongTime(), 1800u);
    EXPECT_TRUE(P().GetKeyLights().Key(65).preLit);
    const SongClock::Reading shown = core->Session().ReadSongClock();
    EXPECT_FALSE(shown.playing);
    EXPECT_EQ(shown.countInBeat, 2u);
    EXPECT_EQ(shown.countInBeats, 7u);
    core->FromInput(Msg(0x90, 65, 100));
    core->FromInput(Msg(0x80, 65, 0));
    const std::vector<Click> rest = Run(5000);
    clicks.insert(clicks.end(), rest.begin(), rest.end());
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    ASSERT_EQ(clicks.size(), 14u);
    const uint32_t wrap = 2100 + 599;  // where the first pass reached B
    for (uint32_t k = 0; k < 7; ++k) {
        EXPECT_EQ(clicks[7 + k], (Click{wrap + 300 * k, 1800, k == 0})) << k;
    }

    // Each pass is a run of its own that the count-in between them is no part of.
    const std::vector<PracticeRun> runs = core->Practice().Collect(NowMs(), true);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].startClockMs - m_start, 2100u);
    EXPECT_EQ(runs[0].durationMs, 599u);
    EXPECT_EQ(runs[1].startClockMs - m_start, wrap + 2100);
    EXPECT_EQ(runs[1].startSongMs, 1800u);
    EXPECT_EQ(runs[1].durationMs, 599u) << "the song goes on from A, not from where the clock is";
    EXPECT_EQ(runs[1].extra, 0u);
    ASSERT_EQ(runs[1].notes.size(), 1u);
    EXPECT_FALSE(runs[1].notes[0].hit);
}

}  // namespace
