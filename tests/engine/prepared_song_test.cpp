#include <gtest/gtest.h>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/prepared_song.h"

namespace {

using PreparedSongTest = CoreFixture;

// Selecting a song prepares it once; every start, the practice record and the screen take that
// one instead of deriving the timeline, the seek index or the meter again.
TEST_F(PreparedSongTest, EveryStartOfTheSelectedSongSharesItsOnePreparation) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(200, 0, 64, 100);
    const int row = core->AddLoadedSong(w.Load());
    const SongEntry& entry = core->Songs().m_entries[static_cast<size_t>(row)];
    const std::shared_ptr<const PreparedSong> prepared = core->PreparedSongOf(entry);
    ASSERT_EQ(prepared->Song(), entry.m_midiData);

    for (int start = 0; start < 2; ++start) {
        core->StartPlay(PlayMode::ModelPerformance);
        AdvanceAndTick(1);
        Performance* p = PerformanceOf(*core);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->SharedPrepared(), prepared);
        EXPECT_EQ(p->SharedTimeline(), prepared->SharedTimeline());
        core->StopPlay();
    }
    core->SeekTo(150);  // a jump reads the prepared index, and finds the second note
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_EQ(PerformanceOf(*core)->SharedPrepared(), prepared);
    core->StopPlay();
    const std::vector<PracticeRun> runs = core->Practice().Collect(ManualClock::Get() + 1000, true);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(core->Practice().MeterOf(runs.back().song), prepared->Meter());

    // Another song's preparation replaces it.
    SmfWriter other;
    other.Note(0, 1, 50, 100);
    const int second = core->AddLoadedSong(other.Load());
    const auto next = core->PreparedSongOf(core->Songs().m_entries[static_cast<size_t>(second)]);
    EXPECT_NE(next, prepared);
    EXPECT_EQ(next->GetTimeline().Size(), 2u);
}

// A long song is prepared on a worker: another song chosen meanwhile is the one that ends up
// prepared, and a start at once waits for it and plays it.
TEST_F(PreparedSongTest, TheSongChosenLastIsPreparedAsideAndAStartAtOncePlaysIt) {
    core->PrepareAsideFrom(0);
    SmfWriter first;
    first.Note(0, 0, 60, 100);
    core->AddLoadedSong(first.Load());
    ASSERT_TRUE(core->OnSongSelChangeCore());
    SmfWriter second;
    second.Note(0, 1, 50, 100).Note(100, 1, 52, 100).Note(200, 1, 53, 100);
    const int row = core->AddLoadedSong(second.Load());
    ASSERT_TRUE(core->OnSongSelChangeCore());
    const SongEntry& entry = core->Songs().m_entries[static_cast<size_t>(row)];

    core->StartPlay(PlayMode::ModelPerformance);
    AdvanceAndTick(1);
    Performance* p = PerformanceOf(*core);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Prepared().Song(), entry.m_midiData);
    EXPECT_EQ(p->Prepared().GetTimeline().Size(), 6u);
    EXPECT_EQ(core->ReadyPreparedSongOf(entry), p->SharedPrepared());
    core->StopPlay();
}

}  // namespace
