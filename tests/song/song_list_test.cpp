#include <gtest/gtest.h>

#include <climits>
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

SongEntry Entry(const std::string& path, const std::string& title, uint32_t mask) {
    SongEntry e;
    e.m_path = path;
    e.m_title = title;
    for (int ch = 0; ch < 16; ++ch) {
        e.m_channels[ch].m_practice = (mask >> ch) & 1;
    }
    return e;
}

std::string Describe(const SongEntry& e) {
    return e.m_path + "|" + e.m_title + "|" + std::to_string(MaskOf(e));
}

// path|title|mask, or "skipped".
std::string Parse(const std::string& line) {
    SongEntry e;
    return ParseSongListLine(line, e) ? Describe(e) : "skipped";
}

}  // namespace

TEST(AddSong, AppendsLoadedTitledSongsPractisingChannelOne) {
    TempDir dir;
    std::string longTitle;
    while (longTitle.size() < 300 * 3) {
        longTitle += "曲";
    }
    // Channel 1 has no notes here; it is still the practice track of the new song.
    WriteBytes(dir.File("titled.mid"), SmfFile({NameEv("ワルツ") + Ev(0, {0x93, 60, 90})}));
    WriteBytes(dir.File("waltz.mid"), OneNoteSong());
    WriteBytes(dir.File("long.mid"), OneNoteSong(longTitle));
    WriteBytes(dir.File("lines.mid"), OneNoteSong("one\r\ntwo"));
    WriteBytes(dir.File("padded.mid"), OneNoteSong(std::string("Pad\0\0\0", 6)));
    WriteBytes(dir.File("zeros.mid"), OneNoteSong(std::string(16, '\0')));
    OwnedList owned;
    for (const char* name :
         {"titled.mid", "waltz.mid", "long.mid", "lines.mid", "padded.mid", "zeros.mid"}) {
        ASSERT_EQ(AddSong(owned.list, dir.File(name)), SONG_OK);
    }
    const auto& entries = owned.list.m_entries;
    EXPECT_NE(entries[0].m_midiData, nullptr);
    EXPECT_EQ(entries[0].m_title, "ワルツ");
    EXPECT_EQ(MaskOf(entries[0]), 1u);
    EXPECT_EQ(entries[1].m_title, "waltz.mid");  // no title: the file name
    // Titles stay one short line, as the list box and the song list file need.
    EXPECT_EQ(entries[2].m_title, longTitle.substr(0, 255 * 3));
    EXPECT_EQ(entries[3].m_title, "one  two");
    // Zero bytes padding a name end it; a name of nothing else is no title.
    EXPECT_EQ(entries[4].m_title, "Pad");
    EXPECT_EQ(entries[5].m_title, "zeros.mid");
    std::string saved;
    for (const SongEntry& e : entries) {
        saved += FormatSongListLine(e);
    }
    EXPECT_EQ(saved.find('\0'), std::string::npos);
}

TEST(AddSong, ListedPathIsLoadedNotAddedAndFailuresChangeNothing) {
    TempDir dir;
    WriteBytes(dir.File("a.mid"), OneNoteSong("From file"));
    OwnedList owned;
    SongList& list = owned.list;
    list.m_entries.push_back(Entry(dir.File("a.mid"), "My title", 0x8002));
    list.m_entries.push_back(Entry(dir.File("gone.mid"), "Gone", 1));

    EXPECT_EQ(AddSong(list, dir.File("a.mid")), SONG_ALREADY_LISTED);
    EXPECT_NE(list.m_entries[0].m_midiData, nullptr);
    EXPECT_EQ(list.m_entries[0].m_title, "My title");
    EXPECT_EQ(MaskOf(list.m_entries[0]), 0x8002u);
    EXPECT_EQ(AddSong(list, dir.File("gone.mid")), SONG_FILE_NOT_FOUND);
    EXPECT_EQ(AddSong(list, dir.File("missing.mid")), SONG_FILE_NOT_FOUND);
    WriteBytes(dir.File("text.mid"), "MThd but not really");
    EXPECT_EQ(AddSong(list, dir.File("text.mid")), SONG_NOT_MIDI);
    ASSERT_EQ(list.m_entries.size(), 2u);
    EXPECT_EQ(list.m_entries[1].m_midiData, nullptr);

    // Names that differ in case are different files on Linux.
    WriteBytes(dir.File("A.mid"), OneNoteSong());
    EXPECT_EQ(AddSong(list, dir.File("A.mid")), SONG_OK);
    EXPECT_EQ(list.m_entries.size(), 3u);
}

TEST(RemoveAndReorder, SongsMoveWithTheirEntriesAndBadOrdersChangeNothing) {
    TempDir dir;
    OwnedList owned;
    SongList& list = owned.list;
    std::vector<const smf::Song*> songs;
    for (const char* name : {"A.mid", "B.mid", "C.mid"}) {
        WriteBytes(dir.File(name), OneNoteSong(name));
        ASSERT_EQ(AddSong(list, dir.File(name)), SONG_OK);
        songs.push_back(list.m_entries.back().m_midiData.get());
    }
    list.m_entries[1].m_channels[5].m_practice = 1;

    auto titlesAndSongs = [&list] {
        std::vector<std::pair<std::string, const smf::Song*>> out;
        for (const SongEntry& e : list.m_entries) {
            out.emplace_back(e.m_title, e.m_midiData.get());
        }
        return out;
    };
    const int rotate[] = {2, 0, 1};
    ASSERT_TRUE(ReorderSongs(list, 3, rotate));
    const auto rotated = titlesAndSongs();
    EXPECT_EQ(rotated,
              (decltype(rotated){{"C.mid", songs[2]}, {"A.mid", songs[0]}, {"B.mid", songs[1]}}));
    EXPECT_EQ(MaskOf(list.m_entries[2]), 0x21u);

    const int twice[] = {0, 0, 1}, outside[] = {0, 1, 3}, negative[] = {-1, 0, 1};
    EXPECT_FALSE(ReorderSongs(list, 3, twice));
    EXPECT_FALSE(ReorderSongs(list, 3, outside));
    EXPECT_FALSE(ReorderSongs(list, 3, negative));
    EXPECT_FALSE(ReorderSongs(list, 2, rotate));
    EXPECT_EQ(titlesAndSongs(), rotated);

    EXPECT_FALSE(RemoveSong(list, 3));
    EXPECT_TRUE(RemoveSong(list, 1));
    EXPECT_EQ(list.m_entries[1].m_midiData.get(), songs[1]);
    EXPECT_TRUE(RemoveSong(list, 0));
    EXPECT_TRUE(RemoveSong(list, 0));
    EXPECT_TRUE(list.m_entries.empty());
    WriteBytes(dir.File("songlist.txt"), "\"old\", \"old\",0x0001\r\n");
    ASSERT_TRUE(SaveSongList(list, dir.File("songlist.txt")));
    EXPECT_EQ(ReadBytes(dir.File("songlist.txt")), "");
}

TEST(SongListLine, ReadsEveryLineByItsFirstFourQuotes) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"\"/曲/waltz.mid\", \"Waltz\",0x0003", "/曲/waltz.mid|Waltz|3"},
        {"\"p\", \"t\",0x8000", "p|t|32768"},
        {"\"p\", \"t\",0x10001", "p|t|1"},  // bits above channel 16 are ignored
        {"\"p\", \"t\",0xFF00 trailing", "p|t|65280"},
        {"junk\"p\"-\"\",0x0004", "p||4"},
        {"\"\", \"\",0x0000", "||0"},
        // A mask that is missing or written otherwise: no practice tracks.
        {"\"p\", \"t\"", "p|t|0"},
        {"\"p\", \"t\",0X0001", "p|t|0"},
        {"\"p\", \"t\", 0x0001", "p|t|0"},
        {"\"p\", \"t\",0x", "p|t|0"},
        {"\"p\", \"t\",0x-1", "p|t|0"},
        // More quotes, but not the shape a save writes: still the first four decide.
        {"\"p\", \"t\",0x0001 \"note\"", "p|t|1"},
        {"x\"p\", \"t\"\"u\",0x0002", "p|t|0"},
        {"", "skipped"},
        {"\"p\", \"t", "skipped"},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(Parse(line), expected) << line;
    }
}

TEST(SongListLine, QuotesInsidePathOrTitleReadBackAsSaved) {
    // Fields built from the characters of the line's frame, mixed every way. A path cannot hold
    // the separator ", " itself (nor end in quote, comma, blank): that line would read the same
    // for two different songs.
    const std::vector<std::string> pieces{"\"", ",", " ", "0", "x", "f", "曲", "\""};
    std::mt19937 random(12345);
    auto make = [&](bool isPath) {
        for (;;) {
            std::string text;
            for (int n = random() % 12; n > 0; --n) {
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
        ASSERT_EQ(Parse(FormatSongListLine(original)), Describe(original));
    }
}

TEST(SongListFile, ReadsMixedLineEndsLegacyLinesAndDuplicates) {
    TempDir dir;
    // A line saved on Windows in CP932: "C:\曲\表.mid", "テスト" (表 ends in the backslash code).
    WriteBytes(dir.File("songlist.txt"),
               "\"/a.mid\", \"A\",0x0001\n\"C:\\\x8b\xc8\\\x95\x5c.mid\", "
               "\"\x83\x65\x83\x58\x83\x67\",0x0001\r\n\r\nnot a song\r\n\"/a.mid\", \"A\",0x0002");
    OwnedList owned;
    ASSERT_TRUE(ReadSongList(owned.list, dir.File("songlist.txt")));
    std::vector<std::string> read;
    for (const SongEntry& e : owned.list.m_entries) {
        EXPECT_EQ(e.m_midiData, nullptr);
        read.push_back(Describe(e));
    }
    EXPECT_EQ(read,
              (std::vector<std::string>{"/a.mid|A|1", "C:\\曲\\表.mid|テスト|1", "/a.mid|A|2"}));
    EXPECT_FALSE(ReadSongList(owned.list, dir.File("absent.txt")));
}

TEST(SongListFile, JapaneseRoundTripUnderTheCLocale) {
    std::string locale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    TempDir dir;
    std::filesystem::create_directory(dir.File("練習曲"));
    std::string first = dir.File("練習曲/エリーゼのために.mid");
    std::string second = dir.File("練習曲/\"引用\" と, 記号.mid");
    WriteBytes(first, OneNoteSong("エリーゼのために"));
    WriteBytes(second, OneNoteSong("題名に\"引用符\", \"と\",0x記号"));
    {
        OwnedList owned;
        ASSERT_EQ(AddSong(owned.list, first), SONG_OK);
        ASSERT_EQ(AddSong(owned.list, second), SONG_OK);
        owned.list.m_entries[0].m_channels[9].m_practice = 1;  // ticks made during the run
        owned.list.m_entries[1].m_channels[0].m_practice = 0;
        owned.list.m_entries[1].m_channels[15].m_practice = 1;
        ASSERT_TRUE(SaveSongList(owned.list, dir.File("songlist.txt")));
    }
    std::string content = ReadBytes(dir.File("songlist.txt"));
    std::string firstLine = "\"" + first + "\", \"エリーゼのために\",0x0201\r\n";
    EXPECT_EQ(content.substr(0, firstLine.size()), firstLine);  // UTF-8, CR LF

    OwnedList back;
    ASSERT_TRUE(ReadSongList(back.list, dir.File("songlist.txt")));
    ASSERT_EQ(back.list.m_entries.size(), 2u);
    EXPECT_EQ(Describe(back.list.m_entries[0]), first + "|エリーゼのために|513");
    EXPECT_EQ(Describe(back.list.m_entries[1]), second + "|題名に\"引用符\", \"と\",0x記号|32768");
    EXPECT_EQ(AddSong(back.list, second), SONG_ALREADY_LISTED);
    EXPECT_NE(back.list.m_entries[1].m_midiData, nullptr);
    std::setlocale(LC_ALL, locale.c_str());
}

TEST(SongListFile, FailedSaveKeepsTheOldFile) {
    TempDir dir;
    std::string folder = dir.File("locked");
    std::filesystem::create_directory(folder);
    WriteBytes(folder + "/songlist.txt", "\"/old.mid\", \"古い\",0x0001\r\n");
    ::chmod(folder.c_str(), 0555);
    SongList list;
    list.m_entries.push_back(Entry("/new.mid", "新しい", 2));
    EXPECT_FALSE(RunAsOrdinaryUser([&] { return SaveSongList(list, folder + "/songlist.txt"); }));
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadBytes(folder + "/songlist.txt"), "\"/old.mid\", \"古い\",0x0001\r\n");
}

// A path as long as the system allows, of Japanese names, titled at the longest a title gets:
// its line is far beyond any line piece, and it must still come back whole.
TEST(SongListFile, TheLongestPathTheSystemAcceptsSurvivesARestart) {
    TempDir dir;
    std::string path = dir.Path();
    const std::string folder(200, 'f');
    while (path.size() + 1 + folder.size() + 16 < PATH_MAX) {
        path += "/" + folder;
        ASSERT_TRUE(std::filesystem::create_directory(path)) << path.size();
    }
    path += "/";
    while (path.size() + 3 + 4 < PATH_MAX) {
        path += "曲";
    }
    path += ".mid";
    path.append(PATH_MAX - 1 - path.size(), 'x');
    ASSERT_EQ(path.size(), static_cast<size_t>(PATH_MAX - 1));
    ASSERT_TRUE(std::ofstream(path).good());
    ASSERT_TRUE(SongPathExists(path));

    std::string title;
    while (title.size() < 255 * 3) {
        title += "題";
    }
    OwnedList saved;
    saved.list.m_entries.push_back(Entry("/short.mid", "S", 1));
    saved.list.m_entries.push_back(Entry(path, title, 0x8421));
    saved.list.m_entries.push_back(Entry("/after.mid", "A", 2));
    ASSERT_TRUE(SaveSongList(saved.list, dir.File("songlist.txt")));

    OwnedList back;
    ASSERT_TRUE(ReadSongList(back.list, dir.File("songlist.txt")));
    ASSERT_EQ(back.list.m_entries.size(), 3u);
    EXPECT_EQ(back.list.m_entries[1].m_path, path);
    EXPECT_EQ(back.list.m_entries[1].m_title, title);
    EXPECT_EQ(MaskOf(back.list.m_entries[1]), 0x8421u);
    EXPECT_EQ(Describe(back.list.m_entries[2]), "/after.mid|A|2");
}

// A path that would split its line, or lose part of itself to the separator, is refused;
// quotes and commas that the file does hold are kept.
TEST(AddSong, APathTheListFileCannotHoldIsRefusedAndOthersComeBackWhole) {
    TempDir dir;
    OwnedList owned;
    for (const char* name : {"two\nlines.mid", "cr\r.mid", "a\", \"b.mid", "end\", "}) {
        WriteBytes(dir.File(name), OneNoteSong());
        EXPECT_EQ(AddSong(owned.list, dir.File(name)), SONG_PATH_NOT_LISTABLE) << name;
    }
    EXPECT_TRUE(owned.list.m_entries.empty());

    const std::vector<std::string> kept = {dir.File("say \"hi\".mid"), dir.File("x\", y.mid"),
                                           dir.File("z\",\"w.mid"), dir.File("q\"")};
    for (const std::string& path : kept) {
        WriteBytes(path, OneNoteSong("題\", \"名"));
        ASSERT_EQ(AddSong(owned.list, path), SONG_OK) << path;
    }
    ASSERT_TRUE(SaveSongList(owned.list, dir.File("songlist.txt")));
    OwnedList back;
    ASSERT_TRUE(ReadSongList(back.list, dir.File("songlist.txt")));
    ASSERT_EQ(back.list.m_entries.size(), kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(back.list.m_entries[i].m_path, kept[i]);
    }
}
