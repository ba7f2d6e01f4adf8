#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/temp_dir.h"
#include "platform/text_file.h"
#include "smf_bytes.h"
#include "song/instrument_names.h"
#include "song/song_list.h"
#include "song/track_rows.h"

namespace {

std::string NumberedNames(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "楽器" + std::to_string(i) + "\r\n";
    }
    return text;
}

// Points the name table at a file of the test's own and forgets it again afterwards.
class InstrumentNames : public ::testing::Test {
  protected:
    void Use(const std::string& content) {
        WriteBytes(m_dir.File("inst_name_gm.txt"), content);
        SetInstrumentNameFileForTest(m_dir.File("inst_name_gm.txt"));
    }
    void TearDown() override { ResetInstrumentNamesForTest(); }
    TempDir m_dir;
};

}  // namespace

TEST_F(InstrumentNames, SlotsFollowLinesOfTheFile) {
    Use(NumberedNames(200));
    EXPECT_EQ(GetInstrumentName(0), "楽器0");
    EXPECT_EQ(GetInstrumentName(127), "楽器127");  // no CR, and line 129 on is not used
    EXPECT_EQ(GetInstrumentName(128), std::nullopt);
    EXPECT_EQ(GetInstrumentName(255), std::nullopt);
    EXPECT_EQ(GetInstrumentName(1000), std::nullopt);
}

TEST_F(InstrumentNames, ShortFilesEmptyLinesAndLegacyText) {
    // LF only, an empty line that keeps its slot, a CP932 line, a stray CR that ends a name.
    Use("Piano\n\nアコ\r\n\x83\x65\x83\x58\x83\x67\ncut\rhere\n");
    EXPECT_EQ(GetInstrumentName(0), "Piano");
    EXPECT_EQ(GetInstrumentName(1), "");
    EXPECT_EQ(GetInstrumentName(2), "アコ");
    EXPECT_EQ(GetInstrumentName(3), "テスト");
    EXPECT_EQ(GetInstrumentName(4), "cut");
    // Beyond the last line: an empty name, not the absence of one.
    EXPECT_EQ(GetInstrumentName(5), "");
    EXPECT_EQ(GetInstrumentName(127), "");
}

TEST_F(InstrumentNames, FileIsReadOnceWhateverHappens) {
    SetInstrumentNameFileForTest(m_dir.File("inst_name_gm.txt"));
    EXPECT_EQ(GetInstrumentName(0), std::nullopt);
    // The file turning up later changes nothing during this run.
    WriteBytes(m_dir.File("inst_name_gm.txt"), NumberedNames(128));
    EXPECT_EQ(GetInstrumentName(0), std::nullopt);

    Use(NumberedNames(128));
    EXPECT_EQ(GetInstrumentName(5), "楽器5");
    WriteBytes(m_dir.File("inst_name_gm.txt"), "changed\r\n");
    EXPECT_EQ(GetInstrumentName(5), "楽器5");
}

TEST_F(InstrumentNames, ShippedFileHoldsAllProgramNames) {
    std::string shipped = std::string(PELORVANE_SOURCE_DIR) + "/res/inst_name_gm.txt";
    std::string bytes = ReadBytes(shipped);
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(IsValidUtf8(bytes));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(shipped, [&](const std::string& l) { lines.push_back(l); }));
    ASSERT_EQ(lines.size(), 128u);
    for (const std::string& line : lines) {
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line.find('\r'), std::string::npos);
    }
    SetInstrumentNameFileForTest(shipped);
    EXPECT_EQ(GetInstrumentName(0), lines[0]);
    EXPECT_EQ(GetInstrumentName(127), lines[127]);
}

TEST_F(InstrumentNames, RowsForChannelsWithNotesInChannelOrder) {
    Use(NumberedNames(128));
    std::string path = m_dir.File("song.mid");
    WriteBytes(path, SmfFile({
                         Ev(0, {0xC9, 0}) + Ev(0, {0x99, 36, 100}),    // channel 10
                         Ev(0, {0xC1, 40}) + Ev(0, {0x91, 60, 100}),   // channel 2
                         Ev(0, {0xC0, 127}) + Ev(0, {0x90, 60, 100}),  // channel 1
                     }));
    SongList list;
    ASSERT_EQ(AddSong(list, path), SONG_OK);
    SongEntry& e = list.m_entries[0];
    e.m_channels[1].m_practice = 1;
    e.m_channels[0].m_practice = 0;
    e.m_channels[4].m_practice = 1;  // practice without notes: no row

    std::array<int, 16> channelRow{};
    std::vector<TrackRow> rows = BuildTrackRows(e, channelRow);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, "CH:01 楽器127");
    EXPECT_EQ(rows[1].text, "CH:02 楽器40");
    EXPECT_EQ(rows[2].text, "CH:10 楽器0");
    EXPECT_EQ(rows[0].channel, 0);
    EXPECT_EQ(rows[1].channel, 1);
    EXPECT_EQ(rows[2].channel, 9);
    EXPECT_FALSE(rows[0].checked);
    EXPECT_TRUE(rows[1].checked);
    EXPECT_FALSE(rows[2].checked);
    std::array<int, 16> expected;
    expected.fill(-1);
    expected[0] = 0;
    expected[1] = 1;
    expected[9] = 2;
    EXPECT_EQ(channelRow, expected);

    // Without a name file every row names the undefined instrument.
    SetInstrumentNameFileForTest(m_dir.File("absent.txt"));
    rows = BuildTrackRows(e, channelRow);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].text, "CH:10 (未定義の楽器)");

    // An unloaded song has no rows.
    SongEntry unloaded = e;
    FreeSongList(list);
    unloaded.m_midiData = nullptr;
    channelRow.fill(7);
    EXPECT_TRUE(BuildTrackRows(unloaded, channelRow).empty());
    expected.fill(-1);
    EXPECT_EQ(channelRow, expected);
}
