// What the falling-notes view is drawn from: the notes made once per song, and the song time the
// clock thread publishes for the screen to follow between its ticks.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/note_spans.h"
#include "engine/performance.h"
#include "engine/song_clock.h"
#include "engine_test_support.h"
#include "midi_file_writer/smf_writer.h"
#include "platform/clock.h"

namespace {

using Ev = NoteSpans::NoteEvent;

TEST(NoteSpansTest, PairsNoteOffsWithTheirNoteOnsAcrossTracksAndRepeatedKeys) {
    SmfWriter w;
    w.Note(0, 0, 60, 500).Note(500, 0, 60, 250);  // the same key again as the first ends
    w.NoteOn(100, 1, 60).NoteOn(200, 1, 60);      // stacked on another channel
    w.NoteOff(300, 1, 60).NoteOff(400, 1, 60);
    w.NewTrack().NoteOn(1000, 2, 72, 0);  // a note-on of velocity 0 ends nothing and starts nothing
    w.NoteOn(1000, 3, 40);                // never ended: lasts to the song's last event
    w.NoteOff(1200, 3, 41);
    const auto song = w.Load();
    ASSERT_TRUE(song);
    const auto spans = NoteSpans::FromSong(*song);
    ASSERT_EQ(spans->Count(), 5u);
    const std::vector<NoteSpan>& s = spans->Short();
    auto find = [&](uint32_t start, int channel) -> const NoteSpan* {
        for (const NoteSpan& n : s) {
            if (n.start == start && n.channel == channel) {
                return &n;
            }
        }
        return nullptr;
    };
    ASSERT_TRUE(find(0, 0));
    EXPECT_EQ(find(0, 0)->end, 500u);
    ASSERT_TRUE(find(500, 0));
    EXPECT_EQ(find(500, 0)->end, 750u);
    // The oldest sounding note ends first.
    ASSERT_TRUE(find(100, 1) && find(200, 1));
    EXPECT_EQ(find(100, 1)->end, 300u);
    EXPECT_EQ(find(200, 1)->end, 400u);
    ASSERT_TRUE(find(1000, 3));
    EXPECT_EQ(find(1000, 3)->end, 1200u);
    EXPECT_EQ(find(1000, 3)->key, 40);
    for (size_t i = 1; i < s.size(); ++i) {
        EXPECT_LE(s[i - 1].start, s[i].start) << "by start";
    }
}

TEST(NoteSpansTest, WithinFindsEveryNoteSoundingInTheWindowAndLongNotesStayApart) {
    std::vector<Ev> events;
    // A note every 10 ms for a minute, each 300 ms long, and one drone through all of it.
    events.push_back({0, true, 5, 30});
    for (uint32_t t = 0; t < 60000; t += 10) {
        events.push_back({t, true, 0, static_cast<uint8_t>(40 + t / 10 % 40)});
    }
    for (uint32_t t = 300; t < 60300; t += 10) {
        events.push_back({t, false, 0, static_cast<uint8_t>(40 + (t - 300) / 10 % 40)});
    }
    events.push_back({60300, false, 5, 30});
    std::stable_sort(events.begin(), events.end(),
                     [](const Ev& a, const Ev& b) { return a.time < b.time; });
    const auto spans = NoteSpans::FromEvents(events);
    ASSERT_EQ(spans->Long().size(), 1u);
    EXPECT_EQ(spans->Long()[0].end, 60300u);

    const uint32_t from = 30000, to = 33000;
    const auto [first, last] = spans->Within(from, to);
    size_t inside = 0;
    for (size_t i = first; i < last; ++i) {
        const NoteSpan& n = spans->Short()[i];
        inside += n.end >= from && n.start <= to ? 1 : 0;
    }
    size_t expected = 0;
    for (const NoteSpan& n : spans->Short()) {
        expected += n.end >= from && n.start <= to ? 1 : 0;
    }
    EXPECT_EQ(inside, expected);
    // A frame looks at the notes near the window only, not the whole minute.
    EXPECT_LT(last - first, expected + NoteSpans::kLongMs / 10 + 1);
}

TEST(SongClockTest, FollowsTheSongBetweenTicksAtItsSpeedAndStandsStillWhenItShould) {
    SongClock::Reading r;
    r.songMs = 1000;
    r.clockMs = 5000;
    r.playing = true;
    r.speedPercent = 100;
    EXPECT_EQ(r.At(5000), 1000u);
    EXPECT_EQ(r.At(5250), 1250u);
    EXPECT_EQ(r.At(4990), 1000u) << "a clock value read just before the tick";
    r.speedPercent = 50;
    EXPECT_EQ(r.At(5250), 1125u);
    r.holdMs = 1100;  // the next chord of the lesson, or a loop's end
    EXPECT_EQ(r.At(6000), 1100u);
    r.holdMs = 0xFFFFFFFFu;
    r.waiting = true;
    EXPECT_EQ(r.At(9000), 1000u);
    r.waiting = false;
    r.playing = false;
    EXPECT_EQ(r.At(9000), 1000u);
}

TEST(SongClockTest, AReaderNeverSeesHalfOfAPublication) {
    SongClock clock;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (uint32_t i = 1; i < 200000; ++i) {
            SongClock::Reading r;
            r.songMs = i;
            r.clockMs = i * 3;
            r.holdMs = i * 5;
            r.speedPercent = static_cast<uint16_t>(i % 1000);
            r.playing = i & 1;
            r.waiting = i & 2;
            clock.Publish(r);
        }
        done = true;
    });
    uint64_t reads = 0;
    while (!done.load() || reads < 1000) {
        const SongClock::Reading r = clock.Read();
        ++reads;
        if (r.songMs == 0) {
            continue;
        }
        ASSERT_EQ(r.clockMs, r.songMs * 3);
        ASSERT_EQ(r.holdMs, r.songMs * 5);
        ASSERT_EQ(r.speedPercent, r.songMs % 1000);
        ASSERT_EQ(r.playing, (r.songMs & 1) != 0);
        ASSERT_EQ(r.waiting, (r.songMs & 2) != 0);
    }
    writer.join();
}

}  // namespace

namespace {

// The published song time through the window core, ticked by hand on the manual clock.
class SongClockPublicationTest : public CoreFixture {
  protected:
    void SetUp() override {
        CoreFixture::SetUp();
        SmfWriter w;
        w.Note(0, 1, 50, 4000);  // another channel, sounding throughout
        w.Note(1000, 0, 60, 400).Note(2000, 0, 62, 400);
        core->AddLoadedSong(w.Load(), 1);
    }
    void Tick(uint32_t ms = 1) { TickEveryMs(ms); }
    uint32_t SongTime() { return PerformanceOf(*core)->SongTime(); }
    // The song time the screen would draw ms after now.
    uint32_t Shown(uint32_t ms = 0) { return core->ReadSongClock().At(NowMs() + ms); }
};

TEST_F(SongClockPublicationTest, TheScreenFollowsPlaySpeedAndJumps) {
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_EQ(Shown(500), 0u) << "starting: at the start until the first tick";
    Tick(300);
    EXPECT_EQ(Shown(), SongTime());
    // Between ticks the screen goes on at the speed played.
    EXPECT_EQ(Shown(200), SongTime() + 200);
    core->m_slider = 0;  // x0.5
    core->ApplySpeedFromSlider();
    Tick(5);
    const uint32_t at = SongTime();
    EXPECT_EQ(Shown(), at);
    EXPECT_EQ(Shown(200), at + 100);
    // A jump shows at once, before the clock's next tick.
    core->SeekTo(3000);
    EXPECT_EQ(Shown(), 3000u);
    core->StopPlay();
    EXPECT_FALSE(core->ReadSongClock().playing);
}

TEST_F(SongClockPublicationTest, TheLessonStopsTheScreenAtEachChord) {
    core->StartPlay(PlayMode::MyPaceLesson);
    Tick(10);
    // Between ticks the screen never runs past the chord the lesson will wait for.
    EXPECT_EQ(Shown(5000), 1000u);
    for (int guard = 0; guard < 3000 && !PerformanceOf(*core)->Waiting(); ++guard) {
        Tick();
    }
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());
    EXPECT_TRUE(core->ReadSongClock().waiting);
    EXPECT_EQ(Shown(), 1000u);
    Tick(500);
    EXPECT_EQ(Shown(300), 1000u) << "the song stands still while the lesson waits";
    PerformanceOf(*core)->SetKeyDown(60, true);
    Tick(2);
    EXPECT_FALSE(core->ReadSongClock().waiting);
    EXPECT_GT(Shown(100), 1000u);
    EXPECT_EQ(Shown(5000), 2000u) << "and stops at the next chord";
}

}  // namespace
