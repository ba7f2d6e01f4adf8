// A take replayed over its song: at the learner's own pace, in place of the parts it was played
// for, and nothing of it left sounding.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/practice_run.h"
#include "engine/take_file.h"
#include "engine_test_support.h"
#include "platform/clock.h"

namespace {

using E = TakeEvent;
constexpr uint16_t kRight = 1u << 1;  // the practised part plays on channel 2

// (offset from the start, status, key, velocity) of what went out on channels 2 to 16.
using Heard = std::tuple<uint32_t, int, int, int>;

class TakeReplayTest : public CoreFixture {
  protected:
    void SetUp() override {
        CoreFixture::SetUp();
        SmfWriter w;
        w.Note(1000, 1, 60, 300).Note(2000, 1, 62, 300).Note(1500, 2, 48, 300);
        core->AddLoadedSong(w.Load(), kRight);
    }
    void TickUntil(uint32_t ms) {
        while (ManualClock::Get() < start + ms && core->CurrentPlayState() != Stopped) {
            TickEveryMs(1);
        }
    }
    void Send(int status, int data1, int data2) { core->FromInput(Msg(status, data1, data2)); }
    // Replays the take to the song's end: ticking every millisecond, or as the clock thread
    // does, sleeping until the moment the last tick planned.
    std::vector<Heard> Replay(const Take& take, bool sleeping) {
        service.ClearSent();
        EXPECT_TRUE(
            core->StartReplay(std::make_shared<const Take>(take), PracticeChoice{kRight}, -1, 0));
        TickEveryMs(1);
        start = ManualClock::Get();
        while (core->CurrentPlayState() != Stopped) {
            AdvanceAndTick(sleeping ? core->Session().PlannedTickMs() : 1);
        }
        return Sounded();
    }
    std::vector<Heard> Sounded() {
        std::vector<Heard> heard;
        for (const RecordedMessage& m : service.TakeSent()) {
            const int status = m.packed & 0xFF;
            if (!m.sysex && (status & 0x0F) != 0 && (status & 0xF0) != 0xB0) {
                heard.emplace_back(m.timeMs - start, status, m.packed >> 8 & 0xFF,
                                   m.packed >> 16 & 0xFF);
            }
        }
        return heard;
    }

    uint32_t start = 0;
};

// A scripted learner takes half a second over the first chord and 0.7 s over the second: the
// take keeps both waits, in the form the history stores too, and its replay stands as long at
// each, sounding the learner's keys and velocities in place of the part's notes, while the
// accompaniment comes after the first wait as it did. The sleeping clock wakes for every one.
TEST_F(TakeReplayTest, ALessonsTakeReplaysAtTheLearnersPaceInPlaceOfThePart) {
    core->StartPlay(PlayMode::MyPaceLesson);
    TickEveryMs(1);
    start = ManualClock::Get();
    TickUntil(1500);
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());
    Send(0x90, 60, 90);
    TickUntil(1700);
    Send(0x80, 60, 0);
    TickUntil(3200);
    ASSERT_TRUE(PerformanceOf(*core)->Waiting());
    Send(0x90, 62, 70);
    TickUntil(3400);
    Send(0x80, 62, 0);
    core->StopPlay();
    const std::vector<PracticeRun> runs = core->Practice().Collect(ManualClock::Get() + 1000);
    ASSERT_EQ(runs.size(), 1u);
    const Take expected = {{1000, E::NoteOn, 60, 90, 500},
                           {1199, E::NoteOff, 60, 0, 500},
                           {2000, E::NoteOn, 62, 70, 1200},
                           {2199, E::NoteOff, 62, 0, 1200}};
    ASSERT_EQ(runs[0].take, expected);
    const std::vector<uint8_t> kept = TakeToSmf(runs[0].take);
    ASSERT_EQ(TakeFromSmf(kept.data(), kept.size()), expected);

    // The screen, following between ticks, sees the song stand through a wait.
    ASSERT_TRUE(
        core->StartReplay(std::make_shared<const Take>(expected), PracticeChoice{kRight}, -1, 0));
    TickEveryMs(1);
    start = ManualClock::Get();
    TickUntil(1200);
    EXPECT_EQ(core->ReadSongClock().At(ManualClock::Get() + 200), 1000u);
    core->StopPlay();

    const std::vector<Heard> heard = Replay(expected, false);
    EXPECT_EQ(heard, (std::vector<Heard>{{1500, 0x91, 60, 90},
                                         {1699, 0x81, 60, 0},
                                         {2000, 0x92, 48, 100},
                                         {2300, 0x82, 48, 64},
                                         {3200, 0x91, 62, 70},
                                         {3399, 0x81, 62, 0}}));
    EXPECT_EQ(Replay(expected, true), heard);
    // What the replay played is no run of the learner's.
    EXPECT_TRUE(core->Practice().Collect(ManualClock::Get() + 1000, true).empty());
}

// A take kept before the learner's pace was kept, byte for byte as it was written then: it
// still reads, and replays at the song's own pace.
TEST_F(TakeReplayTest, ATakeKeptBeforeItsWaitsWereKeptReplaysAtTheSongsPace) {
    const std::vector<uint8_t> old = {
        'M',  'T',  'h',  'd',  0,    0,    0,    6,
        0,    0,    0,    1,    0x03, 0xE8,            // one track, 1000 a quarter
        'M',  'T',  'r',  'k',  0,    0,    0,    21,  //
        0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,      // a second a quarter
        0x87, 0x68, 0x90, 60,   90,                    // 1000 ms
        0x81, 0x48, 0x80, 60,   0,                     // 1200 ms
        0x00, 0xFF, 0x2F, 0x00};
    const std::optional<Take> take = TakeFromSmf(old.data(), old.size());
    ASSERT_TRUE(take);
    EXPECT_EQ(*take, (Take{{1000, E::NoteOn, 60, 90}, {1200, E::NoteOff, 60, 0}}));
    EXPECT_EQ(Replay(*take, true), (std::vector<Heard>{{1000, 0x91, 60, 90},
                                                       {1200, 0x81, 60, 0},
                                                       {1500, 0x92, 48, 100},
                                                       {1800, 0x82, 48, 64}}));
}

// A jump, a stop and the song's end each let go of what the take holds down at once, and a
// start of the learner's own after a replay plays the part again.
TEST_F(TakeReplayTest, AJumpAStopAndTheEndLeaveNothingOfTheTakeSounding) {
    const Take take = {{1000, E::Pedal, 0, 127, 0},
                       {1000, E::NoteOn, 60, 90, 0},
                       {1900, E::NoteOff, 60, 0, 0},
                       {2000, E::NoteOn, 62, 70, 0},
                       {2900, E::NoteOff, 62, 0, 0}};
    ASSERT_TRUE(
        core->StartReplay(std::make_shared<const Take>(take), PracticeChoice{kRight}, -1, 0));
    TickEveryMs(1);
    start = ManualClock::Get();
    TickUntil(1100);
    service.ClearSent();
    core->SeekTo(1500);
    TickEveryMs(1);
    const std::vector<uint32_t> sent = service.SentShort();
    EXPECT_NE(std::find(sent.begin(), sent.end(), Msg(0x81, 60, 0)), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), Msg(0xB1, 64, 0)), sent.end());
    TickUntil(1700);  // past 2000 in the song
    service.ClearSent();
    core->StopPlay();
    const std::vector<uint32_t> stopped = service.SentShort();
    EXPECT_NE(std::find(stopped.begin(), stopped.end(), Msg(0x81, 62, 0)), stopped.end());

    core->StartPlay(PlayMode::ModelPerformance);
    TickEveryMs(1);
    start = ManualClock::Get();
    service.ClearSent();
    TickUntil(1001);
    EXPECT_EQ(Sounded(), (std::vector<Heard>{{1000, 0x91, 60, 100}}));
    core->StopPlay();

    // A key held past the song's end is let go where the song ends.
    const std::vector<Heard> heard =
        Replay({{2000, E::NoteOn, 62, 70, 0}, {9000, E::NoteOff, 62, 0, 0}}, true);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(), (Heard{2300, 0x81, 62, 0}));
}

}  // namespace
