#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/temp_dir.h"
#include "recording_sink.h"
#include "smf_bytes.h"
#include "song/song_entry.h"

namespace {

// Frees the song that a test loaded into a bare entry (a SongList would do it otherwise).
struct OwnedEntry {
    SongEntry entry;
    ~OwnedEntry() { delete entry.m_midiData; }
};

}  // namespace

TEST(LoadSong, LoadsOnceAndKeepsPracticeFlags) {
    TempDir dir;
    std::string path = dir.File("song.mid");
    WriteBytes(path, SmfFile({Ev(0, {0xC0, 5}) + Ev(0, {0x90, 60, 90})}));

    OwnedEntry owned;
    SongEntry& e = owned.entry;
    e.m_path = path;
    e.m_channels[3].m_practice = 1;
    ASSERT_EQ(LoadSong(e), SONG_OK);
    ASSERT_NE(e.m_midiData, nullptr);
    EXPECT_EQ(e.m_channels[0].m_program, 5);
    EXPECT_EQ(e.m_channels[0].m_hasNotes, 1);
    EXPECT_EQ(e.m_channels[3].m_practice, 1);
    EXPECT_EQ(e.m_channels[0].m_practice, 0);

    // A loaded song is neither re-read nor re-analysed, even when the file has gone.
    smf::Song* first = e.m_midiData;
    e.m_channels[0].m_program = 77;
    std::filesystem::remove(path);
    EXPECT_EQ(LoadSong(e), SONG_OK);
    EXPECT_EQ(e.m_midiData, first);
    EXPECT_EQ(e.m_channels[0].m_program, 77);
}

TEST(LoadSong, FailuresLeaveEntryUnloadedAndRetryLater) {
    TempDir dir;
    OwnedEntry owned;
    SongEntry& e = owned.entry;
    e.m_path = dir.File("later.mid");
    e.m_channels[1].m_practice = 1;
    EXPECT_EQ(LoadSong(e), SONG_FILE_NOT_FOUND);
    EXPECT_EQ(e.m_midiData, nullptr);

    WriteBytes(e.m_path, "not a midi file at all");
    EXPECT_EQ(LoadSong(e), SONG_NOT_MIDI);
    EXPECT_EQ(e.m_midiData, nullptr);

    // A directory exists but is no MIDI file.
    SongEntry folder;
    folder.m_path = dir.Path();
    EXPECT_EQ(LoadSong(folder), SONG_NOT_MIDI);

    WriteBytes(e.m_path, OneNoteSong());
    EXPECT_EQ(LoadSong(e), SONG_OK);
    EXPECT_NE(e.m_midiData, nullptr);
    EXPECT_EQ(e.m_channels[1].m_practice, 1);
}

TEST(LoadSong, ExistenceCheckUsesThePlatformPathLimit) {
    TempDir dir;
    // Longer than the old 259-character limit, well within Linux's.
    std::string folder = dir.Path();
    while (folder.size() < 400) {
        folder += "/" + std::string(60, 'd');
        std::filesystem::create_directory(folder);
    }
    OwnedEntry owned;
    owned.entry.m_path = folder + "/長いパスの曲.mid";
    WriteBytes(owned.entry.m_path, OneNoteSong());
    EXPECT_TRUE(SongPathExists(owned.entry.m_path));
    EXPECT_EQ(LoadSong(owned.entry), SONG_OK);

    EXPECT_FALSE(SongPathExists(std::string(PATH_MAX, 'a')));
    EXPECT_FALSE(SongPathExists(""));
    EXPECT_FALSE(SongPathExists(owned.entry.m_path + std::string(1, '\0') + "x"));

    // A link to nowhere has no file behind it.
    std::filesystem::create_symlink(dir.File("gone.mid"), dir.File("link.mid"));
    EXPECT_FALSE(SongPathExists(dir.File("link.mid")));
}

TEST(LoadSong, PathsCompareExactly) {
    EXPECT_TRUE(SamePath("/music/曲.mid", "/music/曲.mid"));
    EXPECT_FALSE(SamePath("/music/a.mid", "/music/A.MID"));
    EXPECT_FALSE(SamePath("/music/a.mid", "/music/a.mid/"));
}

TEST(AnalyzeChannels, ProgramIsFirstOfEachTrackLastTrackWins) {
    TempDir dir;
    OwnedEntry owned;
    SongEntry& e = owned.entry;
    e.m_path = dir.File("programs.mid");
    WriteBytes(e.m_path,
               SmfFile({
                   // Channel 1: 24 then 40 later in the same track; the later one is not seen.
                   Ev(0, {0xC0, 24}) + Ev(10, {0x90, 60, 80}) + Ev(10, {0xC0, 40}),
                   // A later track's first program change on channel 1 overwrites it.
                   Ev(0, {0xC0, 25}),
                   // Channel 3 has notes but no program change. This track's first program
                   // change (channel 4) ends its walk, so channel 5's is never seen.
                   Ev(0, {0x92, 64, 70}) + Ev(0, {0xC3, 33}) + Ev(0, {0xC4, 50}),
                   // Running status for a program change on channel 16.
                   Ev(0, {0xCF, 12}) + Ev(0, {13}),
               }));
    ASSERT_EQ(LoadSong(e), SONG_OK);
    EXPECT_EQ(e.m_channels[0].m_program, 25);
    EXPECT_EQ(e.m_channels[2].m_program, 0);
    EXPECT_EQ(e.m_channels[3].m_program, 33);
    EXPECT_EQ(e.m_channels[4].m_program, 0);
    EXPECT_EQ(e.m_channels[15].m_program, 12);
    EXPECT_EQ(e.m_channels[2].m_hasNotes, 1);
}

TEST(AnalyzeChannels, OnlyFirstSoundingNoteOfEachTrackMarksAChannel) {
    TempDir dir;
    OwnedEntry owned;
    SongEntry& e = owned.entry;
    e.m_path = dir.File("notes.mid");
    WriteBytes(e.m_path,
               SmfFile({
                   // Velocity 0 is a note-off; channel 2 sounds first, then channel 1.
                   Ev(0, {0x90, 60, 0}) + Ev(0, {0x91, 62, 90}) + Ev(0, {0x90, 64, 90}),
                   // Only silent note-ons: marks nothing.
                   Ev(0, {0x95, 60, 0}) + Ev(5, {0x85, 60, 0}),
                   // Sysex and controllers before the first note do not count.
                   Ev(0, {0xF0, 2, 0x7E, 0xF7}) + Ev(0, {0xB9, 7, 100}) + Ev(0, {0x99, 36, 100}),
               }));
    ASSERT_EQ(LoadSong(e), SONG_OK);
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(e.m_channels[ch].m_hasNotes, (ch == 1 || ch == 9) ? 1 : 0) << "channel " << ch;
    }

    // Without a song everything is cleared except the practice flags.
    smf::Song* song = e.m_midiData;
    e.m_midiData = nullptr;
    e.m_channels[4].m_practice = 1;
    e.m_channels[4].m_program = 9;
    AnalyzeChannels(e);
    EXPECT_EQ(e.m_channels[1].m_hasNotes, 0);
    EXPECT_EQ(e.m_channels[4].m_program, 0);
    EXPECT_EQ(e.m_channels[4].m_practice, 1);
    e.m_midiData = song;
}

TEST(ShowLoadError, MessagesNameThePath) {
    RecordingSink sink;
    ShowLoadError(sink, "/曲/waltz.mid", SONG_FILE_NOT_FOUND);
    ShowLoadError(sink, "/曲/100%s.mid", SONG_NOT_MIDI);
    ShowLoadError(sink, "/x.mid", SONG_OK);
    ShowLoadError(sink, "/x.mid", SONG_ALREADY_LISTED);
    ShowLoadError(sink, "/x.mid", 42);
    ASSERT_EQ(sink.shown.size(), 2u);
    EXPECT_EQ(sink.shown[0], "ファイル\"/曲/waltz.mid\"はありません。");
    EXPECT_EQ(sink.shown[1], "ファイル\"/曲/100%s.mid\"はMIDIファイルではありません。");
}
