#include <gtest/gtest.h>

#include <clocale>
#include <random>
#include <string>
#include <vector>

#include "platform/temp_dir.h"
#include "smf_bytes.h"
#include "song/song_list.h"

namespace {

// Frees whatever the test left loaded; under ASan a song freed twice or never fails the run.
struct OwnedList {
    SongList list;
    ~OwnedList() { FreeSongList(list); }
};

uint32_t MaskOf(const SongEntry& e) {
    uint32_t mask = 0;
    for (int ch = 0; ch < 16; ++ch) {
        mask |= static_cast<uint32_t>(e.m_channels[ch].m_practice != 0) << ch;
    }
    return mask;
}

SongEntry Parsed(const std::string& line) {
    SongEntry e;
    EXPECT_TRUE(ParseSongListLine(line, e)) << line;
    return e;
}

SongEntry Entry(const std::string& path, const std::string& title, uint32_t mask) {
    SongEntry e;
    e.m_path = path;
    e.m_title = title;
    for (int ch = 0; ch < 16; ++ch) {
        e.m_channels[ch].m_practice = (mask >> ch) & 1;
    }
    return e;
}

std::vector<std::string> Paths(const SongList& list) {
    std::vector<std::string> paths;
    for (const SongEntry& e : list.m_entries) {
        paths.push_back(e.m_path);
    }
    return paths;
}

}  // namespace

TEST(AddSong, NewSongIsLoadedTitledAndPractisesChannelOne) {
    TempDir dir;
    // Channel 1 has no notes; it is still the practice track of a new song.
    WriteBytes(dir.File("titled.mid"), SmfFile({NameEv("ワルツ第1番") + Ev(0, {0x93, 60, 90})}));
    WriteBytes(dir.File("waltz.mid"), OneNoteSong());

    OwnedList owned;
    SongList& list = owned.list;
    ASSERT_EQ(AddSong(list, dir.File("titled.mid")), SONG_OK);
    ASSERT_EQ(AddSong(list, dir.File("waltz.mid")), SONG_OK);
    ASSERT_EQ(list.m_entries.size(), 2u);
    const SongEntry& titled = list.m_entries[0];
    EXPECT_NE(titled.m_midiData, nullptr);
    EXPECT_EQ(titled.m_title, "ワルツ第1番");
    EXPECT_EQ(MaskOf(titled), 1u);
    EXPECT_EQ(titled.m_channels[0].m_hasNotes, 0);
    EXPECT_EQ(titled.m_channels[3].m_hasNotes, 1);
    // Without a title the file name stands in, extension included.
    EXPECT_EQ(list.m_entries[1].m_title, "waltz.mid");
}

TEST(AddSong, TitlesStayOneShortLine) {
    TempDir dir;
    std::string longTitle;
    for (int i = 0; i < 300; ++i) {
        longTitle += "曲";
    }
    WriteBytes(dir.File("long.mid"), OneNoteSong(longTitle));
    WriteBytes(dir.File("broken.mid"), OneNoteSong("line one\r\nline two"));
    OwnedList owned;
    ASSERT_EQ(AddSong(owned.list, dir.File("long.mid")), SONG_OK);
    ASSERT_EQ(AddSong(owned.list, dir.File("broken.mid")), SONG_OK);
    EXPECT_EQ(owned.list.m_entries[0].m_title, longTitle.substr(0, 255 * 3));
    EXPECT_EQ(owned.list.m_entries[1].m_title, "line one  line two");
}

TEST(AddSong, ListedPathIsFoundAndLoadedNotAddedAgain) {
    TempDir dir;
    std::string path = dir.File("a.mid");
    WriteBytes(path, OneNoteSong("From file"));
    OwnedList owned;
    SongList& list = owned.list;
    // As read from the song list file: unloaded, own title and practice flags.
    list.m_entries.push_back(Entry(path, "My title", 0x8002));

    EXPECT_EQ(AddSong(list, path), SONG_ALREADY_LISTED);
    ASSERT_EQ(list.m_entries.size(), 1u);
    smf::Song* song = list.m_entries[0].m_midiData;
    EXPECT_NE(song, nullptr);
    EXPECT_EQ(list.m_entries[0].m_title, "My title");
    EXPECT_EQ(MaskOf(list.m_entries[0]), 0x8002u);

    EXPECT_EQ(AddSong(list, path), SONG_ALREADY_LISTED);
    EXPECT_EQ(list.m_entries[0].m_midiData, song);

    // Names differing in case are different files on Linux.
    std::string upper = dir.File("A.mid");
    WriteBytes(upper, OneNoteSong());
    EXPECT_EQ(AddSong(list, upper), SONG_OK);
    EXPECT_EQ(list.m_entries.size(), 2u);
}

TEST(AddSong, FailuresChangeNothing) {
    TempDir dir;
    OwnedList owned;
    SongList& list = owned.list;
    EXPECT_EQ(AddSong(list, dir.File("missing.mid")), SONG_FILE_NOT_FOUND);
    WriteBytes(dir.File("text.mid"), "MThd but not really");
    EXPECT_EQ(AddSong(list, dir.File("text.mid")), SONG_NOT_MIDI);
    EXPECT_TRUE(list.m_entries.empty());

    // A listed entry whose file has gone stays listed and unloaded.
    list.m_entries.push_back(Entry(dir.File("gone.mid"), "Gone", 1));
    EXPECT_EQ(AddSong(list, dir.File("gone.mid")), SONG_FILE_NOT_FOUND);
    ASSERT_EQ(list.m_entries.size(), 1u);
    EXPECT_EQ(list.m_entries[0].m_midiData, nullptr);
    EXPECT_EQ(list.m_entries[0].m_title, "Gone");
}

TEST(RemoveAndReorder, MoveSongsWithTheirEntries) {
    TempDir dir;
    OwnedList owned;
    SongList& list = owned.list;
    for (const char* name : {"A.mid", "B.mid", "C.mid"}) {
        WriteBytes(dir.File(name), OneNoteSong(name));
        ASSERT_EQ(AddSong(list, dir.File(name)), SONG_OK);
    }
    list.m_entries[1].m_channels[5].m_practice = 1;
    std::vector<smf::Song*> songs;
    for (const SongEntry& e : list.m_entries) {
        songs.push_back(e.m_midiData);
    }

    const int rotate[] = {2, 0, 1};
    ASSERT_TRUE(ReorderSongs(list, 3, rotate));
    EXPECT_EQ(Paths(list),
              (std::vector<std::string>{dir.File("C.mid"), dir.File("A.mid"), dir.File("B.mid")}));
    EXPECT_EQ(list.m_entries[0].m_midiData, songs[2]);
    EXPECT_EQ(list.m_entries[1].m_midiData, songs[0]);
    EXPECT_EQ(list.m_entries[2].m_midiData, songs[1]);
    EXPECT_EQ(MaskOf(list.m_entries[2]), 0x21u);
    EXPECT_EQ(list.m_entries[0].m_title, "C.mid");

    // Orders that would lose or share a song change nothing.
    const std::vector<std::string> before = Paths(list);
    const int twice[] = {0, 0, 1};
    const int outside[] = {0, 1, 3};
    const int negative[] = {-1, 0, 1};
    EXPECT_FALSE(ReorderSongs(list, 3, twice));
    EXPECT_FALSE(ReorderSongs(list, 3, outside));
    EXPECT_FALSE(ReorderSongs(list, 3, negative));
    EXPECT_FALSE(ReorderSongs(list, 2, rotate));
    EXPECT_FALSE(ReorderSongs(list, 3, nullptr));
    EXPECT_EQ(Paths(list), before);
    EXPECT_EQ(list.m_entries[0].m_midiData, songs[2]);

    EXPECT_FALSE(RemoveSong(list, 3));
    EXPECT_TRUE(RemoveSong(list, 1));
    EXPECT_EQ(Paths(list), (std::vector<std::string>{dir.File("C.mid"), dir.File("B.mid")}));
    EXPECT_EQ(list.m_entries[1].m_midiData, songs[1]);
    EXPECT_TRUE(RemoveSong(list, 0));
    EXPECT_TRUE(RemoveSong(list, 0));
    EXPECT_TRUE(list.m_entries.empty());
    EXPECT_FALSE(RemoveSong(list, 0));

    // The emptied list saves as an empty file.
    WriteBytes(dir.File("songlist.txt"), "\"old\", \"old\",0x0001\r\n");
    ASSERT_TRUE(SaveSongList(list, dir.File("songlist.txt")));
    EXPECT_EQ(ReadBytes(dir.File("songlist.txt")), "");
}

TEST(SongListLine, ReadsTheWrittenFormat) {
    SongEntry e = Parsed("\"/曲/waltz.mid\", \"Waltz\",0x0003");
    EXPECT_EQ(e.m_path, "/曲/waltz.mid");
    EXPECT_EQ(e.m_title, "Waltz");
    EXPECT_EQ(MaskOf(e), 3u);
    EXPECT_EQ(e.m_midiData, nullptr);
    EXPECT_EQ(MaskOf(Parsed("\"p\", \"t\",0x8000")), 0x8000u);
    // Bits above the sixteen channels are ignored; upper-case digits and trailing text are fine.
    EXPECT_EQ(MaskOf(Parsed("\"p\", \"t\",0x10001")), 1u);
    EXPECT_EQ(MaskOf(Parsed("\"p\", \"t\",0xFF00 trailing")), 0xFF00u);
    EXPECT_EQ(MaskOf(Parsed("\"p\", \"t\",0x123456789")), 0x6789u);

    // Text outside the quotes is ignored; empty fields are kept.
    e = Parsed("junk\"p\"-\"\",0x0004");
    EXPECT_EQ(e.m_path, "p");
    EXPECT_EQ(e.m_title, "");
    EXPECT_EQ(MaskOf(e), 4u);
    e = Parsed("\"\", \"\",0x0000");
    EXPECT_EQ(e.m_path, "");
    EXPECT_EQ(e.m_title, "");
}

TEST(SongListLine, BadMaskGivesNoPracticeTracks) {
    for (const char* line :
         {"\"p\", \"t\"", "\"p\", \"t\",0X0001", "\"p\", \"t\", 0x0001", "\"p\", \"t\",0x",
          "\"p\", \"t\",0xg1", "\"p\", \"t\",0x 1", "\"p\", \"t\",0x-1", "\"p\", \"t\" ,0x0001"}) {
        SongEntry e = Parsed(line);
        EXPECT_EQ(e.m_path, "p") << line;
        EXPECT_EQ(e.m_title, "t") << line;
        EXPECT_EQ(MaskOf(e), 0u) << line;
    }
}

TEST(SongListLine, SkipsLinesWithFewerThanFourQuotes) {
    SongEntry e;
    for (const char* line : {"", "no quotes", "\"p\", \"t", "\"\"\""}) {
        EXPECT_FALSE(ParseSongListLine(line, e)) << line;
    }
}

TEST(SongListLine, QuotesInsidePathOrTitleReadBackAsSaved) {
    const std::vector<SongEntry> entries{
        Entry("/m/a.mid", "He said \"hi\"", 0x0005),
        Entry("/m/\"quoted\".mid", "t", 0x8001),
        Entry("/m/end\"", "\"start", 0x0002),
        Entry("/m/x.mid", "\"", 0x0100),
        Entry("/m/x.mid", "a\", \"b\", \"c", 0x0001),
        Entry("/m/x.mid", "looks\",0x1234", 0x0040),
        Entry("/m/x.mid", "\",0x", 0xFFFF),
        Entry("/m/\"\"", "", 0x0003),
        Entry("\"", "\"\"\"", 0x0000),
        Entry("/m/a,\"b.mid", "t\",", 0x0010),
    };
    for (const SongEntry& original : entries) {
        std::string line = FormatSongListLine(original);
        SongEntry back = Parsed(line);
        EXPECT_EQ(back.m_path, original.m_path) << line;
        EXPECT_EQ(back.m_title, original.m_title) << line;
        EXPECT_EQ(MaskOf(back), MaskOf(original)) << line;
    }
}

TEST(SongListLine, RandomFieldsRoundTrip) {
    // Fields built from the characters that make up the line's frame, so that every way of
    // mixing them with text is tried. A path cannot hold the separator ", " itself (nor end in
    // quote, comma, blank): such a line reads the same for two different songs.
    const std::vector<std::string> pieces{"\"", ",", " ", "0", "x", "f", "X", "曲", "a", "\""};
    std::mt19937 random(12345);
    auto make = [&](bool isPath) {
        for (;;) {
            std::string text;
            int length = static_cast<int>(random() % 12);
            for (int i = 0; i < length; ++i) {
                text += pieces[random() % pieces.size()];
            }
            bool ambiguous = text.find("\", \"") != std::string::npos ||
                             (text.size() >= 3 && text.compare(text.size() - 3, 3, "\", ") == 0);
            if (!isPath || !ambiguous) {
                return text;
            }
        }
    };
    for (int round = 0; round < 20000; ++round) {
        SongEntry original = Entry(make(true), make(false), random() & 0xFFFF);
        std::string line = FormatSongListLine(original);
        SongEntry back;
        ASSERT_TRUE(ParseSongListLine(line, back)) << line;
        ASSERT_EQ(back.m_path, original.m_path) << line;
        ASSERT_EQ(back.m_title, original.m_title) << line;
        ASSERT_EQ(MaskOf(back), MaskOf(original)) << line;
    }
}

TEST(SongListLine, ExtraQuotesOutsideTheSavedShapeReadByFirstFour) {
    // Not the shape a save writes: the first four quotes decide, as for any other line.
    SongEntry e = Parsed("\"p\", \"t\",0x0001 \"comment\"");
    EXPECT_EQ(e.m_path, "p");
    EXPECT_EQ(e.m_title, "t");
    EXPECT_EQ(MaskOf(e), 1u);
    e = Parsed("x\"p\", \"t\"\"u\",0x0002");
    EXPECT_EQ(e.m_path, "p");
    EXPECT_EQ(e.m_title, "t");
    EXPECT_EQ(MaskOf(e), 0u);
}

TEST(SongListFile, ReadsMixedLineEndsLegacyLinesAndDuplicates) {
    TempDir dir;
    std::string path = dir.File("songlist.txt");
    // A line saved by a Windows program in CP932: "C:\曲\表.mid", "テスト" (the second byte of
    // 表 is the backslash code).
    std::string legacy = "\"C:\\\x8b\xc8\\\x95\x5c.mid\", \"\x83\x65\x83\x58\x83\x67\",0x0001";
    WriteBytes(path, "\"/a.mid\", \"A\",0x0001\n" + legacy +
                         "\r\n\r\nnot a song\r\n\"/a.mid\", \"A again\",0x0002\r\n\"/b.mid\", "
                         "\"B\"");
    OwnedList owned;
    ASSERT_TRUE(ReadSongList(owned.list, path));
    const auto& entries = owned.list.m_entries;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].m_path, "C:\\曲\\表.mid");
    EXPECT_EQ(entries[1].m_title, "テスト");
    EXPECT_EQ(entries[2].m_path, "/a.mid");
    EXPECT_EQ(entries[2].m_title, "A again");
    EXPECT_EQ(MaskOf(entries[2]), 2u);
    EXPECT_EQ(entries[3].m_title, "B");
    EXPECT_EQ(MaskOf(entries[3]), 0u);
    for (const SongEntry& e : entries) {
        EXPECT_EQ(e.m_midiData, nullptr);
    }

    SongList none;
    EXPECT_FALSE(ReadSongList(none, dir.File("absent.txt")));
    EXPECT_TRUE(none.m_entries.empty());
}

TEST(SongListFile, JapaneseRoundTripUnderTheCLocale) {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    TempDir dir;
    std::string folder = dir.File("練習曲");
    std::filesystem::create_directory(folder);
    std::string first = folder + "/エリーゼのために.mid";
    std::string second = folder + "/\"引用\" と, 記号.mid";
    WriteBytes(first, OneNoteSong("エリーゼのために"));
    WriteBytes(second, OneNoteSong("題名に\"引用符\", \"と\",0x記号"));

    std::string listPath = dir.File("songlist.txt");
    {
        OwnedList owned;
        ASSERT_EQ(AddSong(owned.list, first), SONG_OK);
        ASSERT_EQ(AddSong(owned.list, second), SONG_OK);
        owned.list.m_entries[0].m_channels[9].m_practice = 1;  // ticks made during the run
        owned.list.m_entries[1].m_channels[0].m_practice = 0;
        owned.list.m_entries[1].m_channels[15].m_practice = 1;
        ASSERT_TRUE(SaveSongList(owned.list, listPath));
    }
    // UTF-8 with CR LF on disk, whatever the locale.
    std::string content = ReadBytes(listPath);
    std::string firstLine = "\"" + first + "\", \"エリーゼのために\",0x0201\r\n";
    EXPECT_EQ(content.substr(0, firstLine.size()), firstLine);
    EXPECT_EQ(content.substr(content.size() - 9), ",0x8000\r\n");

    OwnedList back;
    ASSERT_TRUE(ReadSongList(back.list, listPath));
    ASSERT_EQ(back.list.m_entries.size(), 2u);
    EXPECT_EQ(back.list.m_entries[0].m_path, first);
    EXPECT_EQ(back.list.m_entries[0].m_title, "エリーゼのために");
    EXPECT_EQ(MaskOf(back.list.m_entries[0]), 0x0201u);
    EXPECT_EQ(back.list.m_entries[1].m_path, second);
    EXPECT_EQ(back.list.m_entries[1].m_title, "題名に\"引用符\", \"と\",0x記号");
    EXPECT_EQ(MaskOf(back.list.m_entries[1]), 0x8000u);
    // What was read loads again from the same paths.
    EXPECT_EQ(AddSong(back.list, second), SONG_ALREADY_LISTED);
    EXPECT_NE(back.list.m_entries[1].m_midiData, nullptr);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(SongListFile, FailedSaveKeepsTheOldFile) {
    TempDir dir;
    std::string folder = dir.File("locked");
    std::filesystem::create_directory(folder);
    std::string listPath = folder + "/songlist.txt";
    WriteBytes(listPath, "\"/old.mid\", \"古い\",0x0001\r\n");

    SongList list;
    list.m_entries.push_back(Entry("/new.mid", "新しい", 2));
    bool saved = RunWithoutWriteAccess(folder, [&] { return SaveSongList(list, listPath); });
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadBytes(listPath), "\"/old.mid\", \"古い\",0x0001\r\n");
}
