#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/timeline_sort.h"
#include "engine_test_support.h"

namespace {

std::unique_ptr<Performance> Built(const SmfWriter& writer) {
    auto song = writer.Load();
    auto p = std::make_unique<Performance>(nullptr);
    p->Build(*song);
    return p;
}

TEST(Timeline, OrdersByTimeThenSysexThenChannel) {
    SmfWriter w;
    for (int ch = 15; ch >= 0; --ch) {
        w.NoteOn(0, ch, 60);
    }
    w.Add(0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7});
    w.NewTrack().NoteOn(3, 9, 50).NoteOn(3, 2, 51).Add(3, {0xC5, 7});
    auto p = Built(w);

    ASSERT_EQ(p->GetTimeline().Events().size(), 20u);
    std::vector<int> keys;
    for (int i = 0; i < 17; ++i) {
        const PerformanceEvent& e = p->GetTimeline().Events()[i];
        EXPECT_EQ(e.time, 0u);
        keys.push_back(e.IsSysex() ? 100 + static_cast<int>(p->SysexLength(e)) : e.channel);
    }
    // The sysex was written after every channel message of its millisecond, yet goes first.
    EXPECT_EQ(keys, (std::vector<int>{106, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    const PerformanceEvent& sysex = p->GetTimeline().Events()[0];
    EXPECT_EQ(sysex.status, 0xF0);
    EXPECT_EQ(std::vector<uint8_t>(p->SysexBytes(sysex), p->SysexBytes(sysex) + 6),
              (std::vector<uint8_t>{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}));

    EXPECT_EQ(p->GetTimeline().Events()[17].channel, 2);
    EXPECT_EQ(p->GetTimeline().Events()[18].channel, 5);  // program change: one data byte, data2 0
    EXPECT_EQ(p->GetTimeline().Events()[18].status, 0xC0);
    EXPECT_EQ(p->GetTimeline().Events()[18].data1, 7);
    EXPECT_EQ(p->GetTimeline().Events()[18].data2, 0);
    EXPECT_EQ(p->GetTimeline().Events()[19].channel, 9);
    EXPECT_EQ(p->GetTimeline().Events()[19].time, 3u);
}

// A reset in a track of its own must not follow the program changes and volumes of its
// millisecond (it would undo them), and split messages keep their packets in the song's order
// whatever their lengths.
TEST(Timeline, SysexKeepsTheSongsOrderAheadOfChannelMessages) {
    SmfWriter w;
    w.Add(0, {0xC0, 5}).Control(0, 0, 7, 90).Add(0, {0xC3, 9});
    w.NewTrack()
        .Add(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7})  // GM reset, 6 bytes
        .Add(0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})  // GS, 11
        .Add(4, {0xF0, 0x43, 0x10, 0x4C})                                            // first packet
        .Add(4, {0xF7, 0x00, 0x00, 0x7E, 0x00, 0xF7})  // its continuation
        .Add(4, {0xF7, 0x01, 0xF7});                   // and the last packet
    w.NewTrack().Control(4, 0, 10, 64);
    auto p = Built(w);

    ASSERT_EQ(p->GetTimeline().Events().size(), 9u);
    std::vector<int> order;  // sysex as 100 + stored length, channel messages as status
    for (const PerformanceEvent& e : p->GetTimeline().Events()) {
        order.push_back(e.IsSysex() ? 100 + static_cast<int>(p->SysexLength(e))
                                    : e.status + e.channel);
    }
    EXPECT_EQ(order, (std::vector<int>{106, 111, 0xC0, 0xB0, 0xC3, 104, 105, 102, 0xB0}));
    EXPECT_EQ(p->GetTimeline().Events()[5].status, 0xF0);
    EXPECT_EQ(p->GetTimeline().Events()[6].status, 0xF7);
    EXPECT_EQ(p->GetTimeline().Events()[7].status, 0xF7);
}

TEST(Timeline, SpareChannelIsTheHighestUnusedAboveZero) {
    SmfWriter some;
    for (int ch = 0; ch < 16; ++ch) {
        if (ch != 12 && ch != 14) {
            some.Control(0, ch, 7, 100);
        }
    }
    EXPECT_EQ(Built(some)->SpareChannel(), 14);

    SmfWriter full;
    for (int ch = 1; ch < 16; ++ch) {
        full.NoteOn(0, ch, 60);
    }
    EXPECT_EQ(Built(full)->SpareChannel(), 0);

    SmfWriter low;
    low.NoteOn(0, 0, 60).NoteOn(0, 1, 60).NoteOn(0, 15, 60);
    auto p = Built(low);
    EXPECT_EQ(p->SpareChannel(), 14);
    EXPECT_TRUE(p->GetTimeline().ChannelUsed(15));
    EXPECT_FALSE(p->GetTimeline().ChannelUsed(14));
}

TEST(Timeline, MetaOnlySongIsEmptyAndEndsAtOnce) {
    SmfWriter w;
    w.Tempo(0, 400000).Add(10, {0xFF, 0x03, 4, 'N', 'a', 'm', 'e'});
    auto p = Built(w);
    EXPECT_TRUE(p->GetTimeline().Events().empty());
    EXPECT_EQ(p->SpareChannel(), 15);
    p->Rewind();
    p->Advance(1);
    EXPECT_TRUE(p->AtEnd());
}

TEST(Timeline, KeepsVelocityZeroNoteOnAndConvertsTempo) {
    SmfWriter w;
    w.Tempo(0, 1000000).NoteOn(500, 3, 60, 0).Tempo(500, 250000).NoteOn(1000, 3, 61, 1);
    auto p = Built(w);
    ASSERT_EQ(p->GetTimeline().Events().size(), 2u);
    EXPECT_EQ(p->GetTimeline().Events()[0].status, 0x90);
    EXPECT_EQ(p->GetTimeline().Events()[0].data2, 0);
    EXPECT_EQ(p->GetTimeline().Events()[0].time, 1000u);  // 500 ticks at one second per quarter
    EXPECT_EQ(p->GetTimeline().Events()[1].time, 1250u);  // then 500 ticks at a quarter second
    EXPECT_FALSE(p->GetTimeline().Events()[0].IsNoteOn());
    EXPECT_TRUE(p->GetTimeline().Events()[0].IsNoteOff());
}

// A repeated note: the note-off of one note and the note-on of the next share a millisecond.
// Only the song's own order keeps the new note from being cut at once.
TEST(Timeline, RepeatedNotesKeepNoteOffBeforeNoteOn) {
    SmfWriter w;
    for (int i = 0; i < 200; ++i) {
        w.NoteOn(i * 10, 0, 60).NoteOff(i * 10 + 10, 0, 60);
        w.NoteOn(i * 10, 1, 64).NoteOff(i * 10 + 10, 1, 64);
    }
    w.NewTrack();
    for (int i = 0; i < 200; ++i) {
        w.NoteOn(i * 10 + 10, 0, 60, 1);
    }
    auto p = Built(w);
    // At every shared millisecond: channel 0's note-off, its note-on (track 1), then track 2's.
    for (size_t i = 0; i + 1 < p->GetTimeline().Events().size(); ++i) {
        const PerformanceEvent& a = p->GetTimeline().Events()[i];
        const PerformanceEvent& b = p->GetTimeline().Events()[i + 1];
        if (a.time == b.time && a.channel == 0 && b.channel == 0 && a.data1 == 60) {
            if (a.IsNoteOff()) {
                EXPECT_TRUE(b.IsNoteOn()) << "at " << a.time;
            }
            if (b.IsNoteOff()) {
                ADD_FAILURE() << "note-off after a note-on at " << a.time;
            }
        }
    }
    // Track 2's note-ons (velocity 1) always come after track 1's at the same time.
    for (size_t i = 0; i + 1 < p->GetTimeline().Events().size(); ++i) {
        const PerformanceEvent& a = p->GetTimeline().Events()[i];
        const PerformanceEvent& b = p->GetTimeline().Events()[i + 1];
        if (a.time == b.time && a.channel == 0 && a.data2 == 1) {
            EXPECT_NE(b.channel, 0) << "at " << a.time;
        }
    }
}

// Timelines made of a few time-ordered tracks are merged: the result must equal a stable sort,
// also when tracks interleave and tie with each other.
TEST(Timeline, SortMergesTrackRunsStably) {
    std::mt19937 rng(11);
    for (int tracks : {2, 5, 40, 64, 65}) {
        std::vector<PerformanceEvent> events;
        for (int t = 0; t < tracks; ++t) {
            uint32_t time = rng() % 5;
            const int length = 1 + static_cast<int>(rng() % 300);
            const uint8_t channel = static_cast<uint8_t>(rng() % 16);
            for (int i = 0; i < length; ++i) {
                PerformanceEvent e;
                e.status = 0x90;
                e.channel = channel;
                e.time = time;
                time += rng() % 3;  // many equal times within and across tracks
                const uint32_t id = static_cast<uint32_t>(events.size());
                e.data1 = static_cast<uint8_t>(id);
                e.data2 = static_cast<uint8_t>(id >> 8);
                events.push_back(e);
            }
        }
        std::vector<PerformanceEvent> expected = events;
        std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
            return a.time < b.time || (a.time == b.time && a.channel < b.channel);
        });
        SortPerformanceEvents(events);
        ASSERT_EQ(events.size(), expected.size());
        for (size_t i = 0; i < events.size(); ++i) {
            ASSERT_EQ(events[i].data1, expected[i].data1) << tracks << " tracks, at " << i;
            ASSERT_EQ(events[i].data2, expected[i].data2) << tracks << " tracks, at " << i;
        }
    }
}

// The radix sort against the library's stable sort, on many ties and on large times.
TEST(Timeline, SortMatchesAStableSortOnRandomTimelines) {
    std::mt19937 rng(7);
    for (uint32_t timeRange : {1u, 50u, 70000u, 0xFFFFFFFFu}) {
        for (size_t n : {5u, 100u, 20000u}) {
            std::vector<PerformanceEvent> events(n);
            std::vector<SysexRef> sysex;
            for (size_t i = 0; i < n; ++i) {
                PerformanceEvent& e = events[i];
                e.time = timeRange == 0xFFFFFFFFu ? rng() : rng() % timeRange;
                if (rng() % 10 == 0) {
                    e.status = 0xF0;
                    e.sysex = static_cast<uint32_t>(sysex.size());
                    sysex.push_back({0, static_cast<uint32_t>(rng() % 600)});
                } else {
                    e.status = 0x90;
                    e.channel = rng() % 16;
                }
                e.data1 = static_cast<uint8_t>(i);  // identity, to check stability
                e.data2 = static_cast<uint8_t>(i >> 8);
                e.reserved[0] = static_cast<uint8_t>(i >> 16);
            }
            auto key = [&](const PerformanceEvent& e) {
                return (uint64_t{e.time} << 8) | (e.IsSysex() ? 0 : e.channel + 1u);
            };
            std::vector<PerformanceEvent> expected = events;
            std::stable_sort(expected.begin(), expected.end(),
                             [&](const auto& a, const auto& b) { return key(a) < key(b); });
            SortPerformanceEvents(events);
            ASSERT_EQ(events.size(), n);
            for (size_t i = 0; i < n; ++i) {
                ASSERT_EQ(events[i].time, expected[i].time) << "range " << timeRange << " i " << i;
                ASSERT_EQ(events[i].data1, expected[i].data1);
                ASSERT_EQ(events[i].data2, expected[i].data2);
                ASSERT_EQ(events[i].reserved[0], expected[i].reserved[0]);
            }
        }
    }
}

}  // namespace
