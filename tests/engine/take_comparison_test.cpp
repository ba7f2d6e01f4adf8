// A take set against the song's practised notes: on time, early, late, wrong and missed.

#include <gtest/gtest.h>

#include "engine/take_comparison.h"

namespace {

TEST(TakeComparison, EachPlayedNoteIsJudgedAgainstTheNearestPractisedNoteOfItsKey) {
    // Practised channel 1: 60 at 1000, 62 at 2000, 64 at 3000, 65 at 4000, 67 at 5000;
    // channel 2 (not practised) has 48 at 2000.
    std::vector<NoteSpans::NoteEvent> events;
    const uint8_t keys[] = {60, 62, 64, 65, 67};
    for (uint32_t i = 0; i < 5; ++i) {
        events.push_back({1000 + 1000 * i, true, 0, keys[i]});
        events.push_back({1300 + 1000 * i, false, 0, keys[i]});
    }
    events.push_back({2000, true, 1, 48});
    events.push_back({2500, false, 1, 48});
    std::sort(events.begin(), events.end(),
              [](const auto& a, const auto& b) { return a.time < b.time; });
    const auto song = NoteSpans::FromEvents(events);

    using E = TakeEvent;
    const Take take = {
        {1010, E::NoteOn, 60, 90}, {1200, E::NoteOff, 60, 0},  // on time
        {1900, E::NoteOn, 62, 90}, {2100, E::NoteOff, 62, 0},  // 100 ms early
        {2005, E::NoteOn, 48, 90}, {2200, E::NoteOff, 48, 0},  // not practised: wrong
        {3140, E::NoteOn, 64, 90}, {3300, E::NoteOff, 64, 0},  // 140 ms late
        {4000, E::NoteOn, 66, 90}, {4200, E::NoteOff, 66, 0},  // the wrong key; 65 missed
        {5200, E::NoteOn, 67, 90}, {5300, E::NoteOff, 67, 0},  // too late: wrong, 67 missed
    };
    const TakeComparison c = CompareTake(*song, PracticeChoice{0x0001}, take);
    using P = TakeComparison::Played;
    ASSERT_EQ(c.played.size(), 6u);
    const P::Verdict verdicts[] = {P::OnTime, P::Early, P::Wrong, P::Late, P::Wrong, P::Wrong};
    const int32_t offsets[] = {10, -100, 0, 140, 0, 0};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(c.played[i].verdict, verdicts[i]);
        EXPECT_EQ(c.played[i].offsetMs, offsets[i]);
    }
    EXPECT_EQ(c.played[0].start, 1010u);
    EXPECT_EQ(c.played[0].end, 1200u);
    ASSERT_EQ(c.missed.size(), 2u);
    EXPECT_EQ(c.missed[0].key, 65);
    EXPECT_EQ(c.missed[1].key, 67);
    // The same key twice answers one note once.
    const TakeComparison twice = CompareTake(*song, PracticeChoice{0x0001},
                                             {{990, E::NoteOn, 60, 90},
                                              {1000, E::NoteOff, 60, 0},
                                              {1020, E::NoteOn, 60, 90},
                                              {1100, E::NoteOff, 60, 0}});
    ASSERT_EQ(twice.played.size(), 2u);
    EXPECT_EQ(twice.played[0].verdict, P::OnTime);
    EXPECT_EQ(twice.played[1].verdict, P::Wrong);
}

}  // namespace
