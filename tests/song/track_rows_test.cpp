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

// Points the name table at the test's own file and forgets it afterwards.
class InstrumentNames : public ::testing::Test {
  protected:
    void Use(const std::string& content) {
        WriteBytes(m_dir.File("names.txt"), content);
        SetInstrumentNameFileForTest(m_dir.File("names.txt"));
    }
    void TearDown() override { ResetInstrumentNamesForTest(); }
    TempDir m_dir;
};

}  // namespace

TEST_F(InstrumentNames, SlotsFollowLinesOfTheFile) {
    Use(NumberedNames(200));
    EXPECT_EQ(GetInstrumentName(0), "楽器0");
    EXPECT_EQ(GetInstrumentName(127), "楽器127");  // no CR; lines after the 128th unused
    EXPECT_EQ(GetInstrumentName(128), std::nullopt);
    EXPECT_EQ(GetInstrumentName(255), std::nullopt);

    // LF only, an empty line keeps its slot, a CP932 line, a stray CR ends a name; beyond the
    // last line a name is empty, not absent.
    Use("Piano\n\n\x83\x65\x83\x58\x83\x67\ncut\rhere\n");
    std::vector<std::optional<std::string>> names;
    for (unsigned program : {0, 1, 2, 3, 4, 127}) {
        names.push_back(GetInstrumentName(program));
    }
    EXPECT_EQ(names,
              (std::vector<std::optional<std::string>>{"Piano", "", "テスト", "cut", "", ""}));
}

TEST_F(InstrumentNames, FileIsReadOnceWhateverHappens) {
    SetInstrumentNameFileForTest(m_dir.File("names.txt"));
    EXPECT_EQ(GetInstrumentName(0), std::nullopt);
    WriteBytes(m_dir.File("names.txt"), NumberedNames(128));  // turns up too late for this run
    EXPECT_EQ(GetInstrumentName(0), std::nullopt);

    Use(NumberedNames(128));
    EXPECT_EQ(GetInstrumentName(5), "楽器5");
    WriteBytes(m_dir.File("names.txt"), "changed\r\n");
    EXPECT_EQ(GetInstrumentName(5), "楽器5");
}

TEST_F(InstrumentNames, ShippedFileNamesEveryProgram) {
    std::string shipped = std::string(PELORVANE_SOURCE_DIR) + "/res/inst_name_gm.txt";
    std::string bytes = ReadBytes(shipped);
    EXPECT_TRUE(IsValidUtf8(bytes));
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(shipped, [&](const std::string& l) { lines.push_back(l); }));
    ASSERT_EQ(lines.size(), 128u);
    std::string crlf;
    for (const std::string& line : lines) {
        EXPECT_FALSE(line.empty());
        crlf += line + "\r\n";
    }
    EXPECT_EQ(bytes, crlf);
}

TEST_F(InstrumentNames, RowsForChannelsWithNotesInChannelOrder) {
    Use(NumberedNames(128));
    WriteBytes(m_dir.File("song.mid"), SmfFile({
                                           Ev(0, {0xC9, 0}) + Ev(0, {0x99, 36, 100}),
                                           Ev(0, {0xC1, 40}) + Ev(0, {0x91, 60, 100}),
                                           Ev(0, {0xC0, 127}) + Ev(0, {0x90, 60, 100}),
                                       }));
    SongList list;
    ASSERT_EQ(AddSong(list, m_dir.File("song.mid")), SONG_OK);
    SongEntry e = list.m_entries[0];
    e.m_channels[0].m_practice = 0;
    e.m_channels[1].m_practice = 1;
    e.m_channels[4].m_practice = 1;  // practice without notes: no row

    std::array<int, 16> channelRow{};
    std::vector<std::string> shown;
    for (const TrackRow& row : BuildTrackRows(e, channelRow)) {
        shown.push_back(row.text + "|" + std::to_string(row.channel) + (row.checked ? "|x" : "|"));
    }
    EXPECT_EQ(shown,
              (std::vector<std::string>{"CH:01 楽器127|0|", "CH:02 楽器40|1|x", "CH:10 楽器0|9|"}));
    std::array<int, 16> expected;
    expected.fill(-1);
    expected[0] = 0;
    expected[1] = 1;
    expected[9] = 2;
    EXPECT_EQ(channelRow, expected);

    SetInstrumentNameFileForTest(m_dir.File("absent.txt"));
    EXPECT_EQ(BuildTrackRows(e, channelRow)[2].text, "CH:10 (未定義の楽器)");

    FreeSongList(list);
    e.m_midiData = nullptr;  // unloaded: no rows
    EXPECT_TRUE(BuildTrackRows(e, channelRow).empty());
    expected.fill(-1);
    EXPECT_EQ(channelRow, expected);
}
