#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/message_sink.h"
#include "platform/temp_dir.h"
#include "smf_bytes.h"
#include "song/song_entry.h"

namespace {

struct RecordingSink : MessageSink {
    void ShowMessage(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

}  // namespace

TEST(LoadSong, LoadsOnDemandOnceAndRetriesAfterFailure) {
    TempDir dir;
    SongEntry e;
    e.m_path = dir.File("song.mid");
    e.m_channels[3].m_practice = 1;
    EXPECT_EQ(LoadSong(e), SONG_FILE_NOT_FOUND);
    WriteBytes(e.m_path, "not a midi file");
    EXPECT_EQ(LoadSong(e), SONG_NOT_MIDI);
    EXPECT_EQ(e.m_midiData, nullptr);

    WriteBytes(e.m_path, SmfFile({Ev(0, {0xC0, 5}) + Ev(0, {0x90, 60, 90})}));
    ASSERT_EQ(LoadSong(e), SONG_OK);
    EXPECT_EQ(e.m_channels[0].m_program, 5);
    EXPECT_EQ(e.m_channels[3].m_practice, 1);

    // A loaded song is neither re-read nor re-analysed, even when its file has gone.
    const smf::Song* first = e.m_midiData.get();
    e.m_channels[0].m_program = 77;
    std::filesystem::remove(e.m_path);
    EXPECT_EQ(LoadSong(e), SONG_OK);
    EXPECT_EQ(e.m_midiData.get(), first);
    EXPECT_EQ(e.m_channels[0].m_program, 77);
}

TEST(LoadSong, ExistenceCheckUsesThePlatformPathLimit) {
    TempDir dir;
    std::string folder = dir.Path();
    while (folder.size() < 400) {  // beyond the old 259-character limit
        folder += "/" + std::string(60, 'd');
        std::filesystem::create_directory(folder);
    }
    SongEntry e;
    e.m_path = folder + "/長いパスの曲.mid";
    WriteBytes(e.m_path, OneNoteSong());
    EXPECT_EQ(LoadSong(e), SONG_OK);

    EXPECT_FALSE(SongPathExists(std::string(PATH_MAX, 'a')));
    EXPECT_FALSE(SongPathExists(e.m_path + std::string(1, '\0')));
    std::filesystem::create_symlink(dir.File("gone.mid"), dir.File("link.mid"));
    EXPECT_FALSE(SongPathExists(dir.File("link.mid")));
    EXPECT_FALSE(SamePath("/music/a.mid", "/music/A.MID"));
}

TEST(AnalyzeChannels, FirstProgramAndFirstSoundingNoteOfEachTrack) {
    TempDir dir;
    SongEntry e;
    e.m_path = dir.File("song.mid");
    WriteBytes(
        e.m_path,
        SmfFile({
            // Channel 1: 24, later 40 in the same track (not seen); the next track's 25 wins.
            Ev(0, {0xC0, 24}) + Ev(10, {0x90, 60, 80}) + Ev(10, {0xC0, 40}),
            Ev(0, {0xC0, 25}),
            // Silent note-on first; channel 3 sounds, then channel 4 (not marked). The first
            // program change (channel 5) ends the walk: channel 6's is never seen.
            Ev(0, {0x93, 60, 0}) + Ev(0, {0x92, 62, 90}) + Ev(0, {0x93, 64, 90}) +
                Ev(0, {0xC4, 33}) + Ev(0, {0xC5, 50}),
            // Only silent note-ons: nothing marked.
            Ev(0, {0x96, 60, 0}),
        }));
    ASSERT_EQ(LoadSong(e), SONG_OK);
    const int programs[16] = {25, 0, 0, 0, 33};
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(e.m_channels[ch].m_program, programs[ch]) << ch;
        EXPECT_EQ(e.m_channels[ch].m_hasNotes, ch == 0 || ch == 2) << ch;
    }
}

TEST(ShowLoadError, MessagesNameThePathOnlyForFailures) {
    RecordingSink sink;
    for (int code : {SONG_OK, SONG_FILE_NOT_FOUND, SONG_NOT_MIDI, SONG_ALREADY_LISTED}) {
        ShowLoadError(sink, "/曲/100%s.mid", code);
    }
    EXPECT_EQ(sink.shown, (std::vector<std::string>{
                              "ファイル\"/曲/100%s.mid\"はありません。",
                              "ファイル\"/曲/100%s.mid\"はMIDIファイルではありません。"}));
    sink.shown.clear();
    ShowLoadError(sink, "/a\", \"b.mid", SONG_PATH_NOT_LISTABLE);
    EXPECT_EQ(sink.shown, std::vector<std::string>{"ファイル\"/a\", \"b.mid\"は名前に改行か\", "
                                                   "\"を含むため、曲リストに加えられません。"});
}

TEST(ShowLoadErrors, AFewFailuresShowTheirOwnMessagesManyShowOne) {
    std::vector<LoadFailure> failures = {{"/a.mid", SONG_FILE_NOT_FOUND},
                                         {"/b.mid", SONG_NOT_MIDI},
                                         {"/c.mid", SONG_FILE_NOT_FOUND}};
    RecordingSink few;
    ShowLoadErrors(few, failures);
    EXPECT_EQ(few.shown,
              (std::vector<std::string>{"ファイル\"/a.mid\"はありません。",
                                        "ファイル\"/b.mid\"はMIDIファイルではありません。",
                                        "ファイル\"/c.mid\"はありません。"}));
    RecordingSink none;
    ShowLoadErrors(none, {});
    EXPECT_TRUE(none.shown.empty());

    for (int i = 0; i < 997; ++i) {
        failures.push_back({"/" + std::to_string(i) + ".mid", SONG_FILE_NOT_FOUND});
    }
    RecordingSink many;
    ShowLoadErrors(many, failures);
    EXPECT_EQ(many.shown,
              std::vector<std::string>{"1000個のファイルを曲リストに加えられませんでした。\n"
                                       "\nファイル\"/a.mid\"はありません。"
                                       "\nファイル\"/b.mid\"はMIDIファイルではありません。"
                                       "\nファイル\"/c.mid\"はありません。"
                                       "\nファイル\"/0.mid\"はありません。"
                                       "\nファイル\"/1.mid\"はありません。"
                                       "\nほかに995個のファイルがあります。"});
}
