// Bars and beats against times worked out by hand, from files built byte by byte and files made
// by csvmidi, an independent MIDI file writer.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "smf/meter_map.h"
#include "smf/smf.h"
#include "smf_bytes.h"

namespace {

using namespace smf_bytes;

Bytes TimeSig(uint32_t delta, uint8_t numerator, uint8_t denominatorPower) {
    return Meta(delta, 0x58, {numerator, denominatorPower, 24, 8});
}

std::unique_ptr<smf::Song> Load(const Bytes& bytes) {
    auto song = smf::LoadFromMemory(bytes.data(), bytes.size());
    EXPECT_TRUE(song);
    return song;
}

TEST(MeterMapTest, WithoutTimeSignatureBarsAreFourQuartersAtTheSongsTempo) {
    // 480 ticks a quarter at 120 a minute: a bar is 1920 ticks, 2000 ms.
    auto song =
        Load(File({Header(0, 1, 480),
                   Track({Ev(0, {0x90, 60, 100}), Ev(9600, {0x80, 60, 0}), EndOfTrack()})}));
    const smf::MeterMap map(*song);
    EXPECT_EQ(map.BarCount(), 5u);  // the note ends exactly where bar 6 would start
    EXPECT_EQ(map.BarStartMs(1), 0u);
    EXPECT_EQ(map.BarStartMs(2), 2000u);
    EXPECT_EQ(map.BarStartMs(5), 8000u);
    EXPECT_EQ(map.BeatsInBar(3), 4u);
    EXPECT_EQ(map.BeatMs(2, 3), 3000u);
    EXPECT_EQ(map.AtMs(0), (smf::BarBeat{1, 1}));
    EXPECT_EQ(map.AtMs(2499), (smf::BarBeat{2, 1}));
    EXPECT_EQ(map.AtMs(2500), (smf::BarBeat{2, 2}));
    EXPECT_EQ(map.EndMs(), 10000u);
    // A song with no events has one empty bar.
    auto empty = Load(File({Header(0, 1, 480), Track({EndOfTrack()})}));
    EXPECT_EQ(smf::MeterMap(*empty).BarCount(), 1u);
}

TEST(MeterMapTest, MeterAndTempoChangesInOtherTracksTakeEffectAtTheirTicks) {
    // Track 0: tempo 120, then 60 from tick 3840 (bar 3). Track 1: 3/4 from tick 5760 (bar 4),
    // 6/8 from tick 7200 (bar 5).
    //  bar 1:    0 ms, bar 2: 2000, bar 3: 4000 (then a quarter is 1 s),
    //  bar 4: 8000 (3/4: 3 s a bar), bar 5: 11000 (6/8: an eighth is 0.5 s, 3 s a bar),
    //  bar 6: 14000.
    auto song =
        Load(File({Header(1, 2, 480), Track({Tempo(0, 500000), Tempo(3840, 1000000), EndOfTrack()}),
                   Track({TimeSig(5760, 3, 2), TimeSig(1440, 6, 3), Ev(0, {0x90, 60, 100}),
                          Ev(2880, {0x80, 60, 0}), EndOfTrack()})}));
    const smf::MeterMap map(*song);
    EXPECT_EQ(map.BarStartMs(2), 2000u);
    EXPECT_EQ(map.BarStartMs(3), 4000u);
    EXPECT_EQ(map.BarStartMs(4), 8000u);
    EXPECT_EQ(map.BarStartMs(5), 11000u);
    EXPECT_EQ(map.BarStartMs(6), 14000u);
    EXPECT_EQ(map.BeatsInBar(4), 3u);
    EXPECT_EQ(map.BeatsInBar(5), 6u);
    EXPECT_EQ(map.BeatMs(4, 3), 10000u);
    EXPECT_EQ(map.BeatMs(5, 6), 13500u);
    EXPECT_EQ(map.AtMs(10999), (smf::BarBeat{4, 3}));
    EXPECT_EQ(map.AtMs(13600), (smf::BarBeat{5, 6}));
    EXPECT_EQ(map.BarCount(), 6u);  // the note ends where bar 7 starts
    // Bars past the end go on in the last meter.
    EXPECT_EQ(map.BarStartMs(7), 17000u);
}

TEST(MeterMapTest, ChangeInsideABarStartsANewBarAndCutsTheOldOneShort) {
    // 4/4 with 480 ticks a quarter; 2/4 at tick 2400, a quarter into bar 2.
    auto song = Load(File(
        {Header(0, 1, 480), Track({TimeSig(2400, 2, 2), Ev(1920, {0x90, 60, 1}), EndOfTrack()})}));
    const smf::MeterMap map(*song);
    EXPECT_EQ(map.BarStartTick(2), 1920u);
    EXPECT_EQ(map.BeatsInBar(2), 1u);
    EXPECT_EQ(map.BarStartTick(3), 2400u);
    EXPECT_EQ(map.BarStartTick(4), 3360u);
    EXPECT_EQ(map.AtTick(2399), (smf::BarBeat{2, 1}));
    EXPECT_EQ(map.AtTick(2400), (smf::BarBeat{3, 1}));
    EXPECT_EQ(map.AtTick(3359), (smf::BarBeat{3, 2}));
}

TEST(MeterMapTest, LastSignatureAtOneTickWinsAndBrokenOnesAreIgnored) {
    auto song = Load(File({Header(1, 2, 96), Track({TimeSig(0, 3, 2), EndOfTrack()}),
                           Track({TimeSig(0, 5, 3), TimeSig(0, 0, 2), EndOfTrack(960)})}));
    const smf::MeterMap map(*song);
    EXPECT_EQ(map.BeatsInBar(1), 5u);
    EXPECT_EQ(map.BarStartTick(2), 240u);  // five eighths of 48 ticks
}

TEST(MeterMapTest, EveryBeatReadsBackAsItself) {
    // Tempo changes that do not fall on beats, so that beat times are rounded.
    auto song = Load(File(
        {Header(1, 2, 384),
         Track({Tempo(0, 433333), Tempo(1000, 611111), Tempo(1777, 377000), EndOfTrack(20000)}),
         Track({TimeSig(0, 7, 3), TimeSig(4032, 5, 2), EndOfTrack()})}));
    const smf::MeterMap map(*song);
    uint32_t previous = 0;
    for (uint32_t bar = 1; bar <= map.BarCount(); ++bar) {
        for (uint32_t beat = 1; beat <= map.BeatsInBar(bar); ++beat) {
            const uint32_t ms = map.BeatMs(bar, beat);
            if (bar > 1 || beat > 1) {
                EXPECT_GT(ms, previous);
            }
            previous = ms;
            EXPECT_EQ(map.AtMs(ms), (smf::BarBeat{bar, beat})) << ms;
            if (ms > 0) {
                EXPECT_NE(map.AtMs(ms - 1), (smf::BarBeat{bar, beat})) << ms;
            }
        }
    }
}

TEST(MeterMapTest, TimeCodeSongsCountHalfSecondQuarters) {
    // 25 frames a second, 40 ticks a frame: 1000 ticks a second.
    auto song = Load(File({Header(0, 1, 0xE728), Track({TimeSig(0, 3, 2), EndOfTrack(6000)})}));
    const smf::MeterMap map(*song);
    EXPECT_EQ(map.BarStartMs(2), 1500u);
    EXPECT_EQ(map.BarCount(), 4u);
}

TEST(MeterMapTest, MillisecondsToTicksIsTheFirstTickAtOrAfter) {
    auto song = Load(
        File({Header(0, 1, 480), Track({Tempo(0, 500000), Tempo(480, 250000), EndOfTrack(960)})}));
    const smf::TempoMap& tempo = song->Tempo();
    for (uint32_t ms : {0u, 1u, 499u, 500u, 501u, 749u, 750u}) {
        const uint32_t tick = tempo.MsToTick(ms);
        EXPECT_GE(tempo.TickToMs(tick), ms);
        if (tick > 0) {
            EXPECT_LT(tempo.TickToMs(tick - 1), ms);
        }
    }
    EXPECT_EQ(tempo.MsToTick(500), 480u);
    EXPECT_EQ(tempo.MsToTick(750), 960u);
}

// Files written by csvmidi, with the bar times worked out by hand.
class MeterMapCsvTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v csvmidi >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "csvmidi is not installed (Debian package midicsv)";
        }
        char pattern[] = "/tmp/pv_meter_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir);
        }
    }
    std::unique_ptr<smf::Song> FromCsv(const std::string& csv) {
        const std::string csvPath = m_dir + "/song.csv";
        const std::string midPath = m_dir + "/song.mid";
        std::ofstream(csvPath) << csv;
        const std::string command = "csvmidi '" + csvPath + "' '" + midPath + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return smf::LoadFromFile(midPath);
    }
    std::string m_dir;
};

TEST_F(MeterMapCsvTest, WaltzWithRitardandoAndACommonTimeCoda) {
    // 240 ticks a quarter. 3/4 at 100 a minute (600 ms a quarter): bars of 1800 ms.
    // From bar 5 (tick 2880) 75 a minute (800 ms a quarter): bars of 2400 ms.
    // From bar 7 (tick 4320) 4/4 and from bar 8 (tick 5280) 2/2 at 75: bars of 3200 ms.
    auto song = FromCsv(
        "0, 0, Header, 1, 2, 240\n"
        "1, 0, Start_track\n"
        "1, 0, Time_signature, 3, 2, 24, 8\n"
        "1, 0, Tempo, 600000\n"
        "1, 2880, Tempo, 800000\n"
        "1, 4320, Time_signature, 4, 2, 24, 8\n"
        "1, 6240, End_track\n"
        "2, 0, Start_track\n"
        "2, 0, Note_on_c, 0, 60, 90\n"
        "2, 5280, Time_signature, 2, 1, 24, 8\n"
        "2, 6240, Note_off_c, 0, 60, 0\n"
        "2, 6240, End_track\n"
        "0, 0, End_of_file\n");
    ASSERT_TRUE(song);
    const smf::MeterMap map(*song);
    const uint32_t expected[] = {0, 1800, 3600, 5400, 7200, 9600, 12000, 15200, 18400};
    for (uint32_t bar = 1; bar <= 9; ++bar) {
        EXPECT_EQ(map.BarStartMs(bar), expected[bar - 1]) << "bar " << bar;
    }
    EXPECT_EQ(map.BeatsInBar(8), 2u);
    EXPECT_EQ(map.BeatMs(8, 2), 16800u);
    EXPECT_EQ(map.BarCount(), 8u);
    EXPECT_EQ(map.AtMs(17000), (smf::BarBeat{8, 2}));
}

}  // namespace
