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

}  // namespace
