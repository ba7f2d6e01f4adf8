// A song exported with a take: read back by our reader and by midicsv, an independent one.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/take_export.h"
#include "midi_file_writer/smf_writer.h"
#include "midicsv_records.h"
#include "smf/smf.h"

namespace {

using Record = MidicsvRecord;

// A song of two tracks with a tempo change, a title and a system exclusive message.
std::unique_ptr<smf::Song> Song() {
    SmfWriter w(480);
    w.Tempo(0, 500000).Tempo(960, 250000);
    w.Add(0, {0xFF, 0x03, 0x04, 'S', 'o', 'n', 'g'});
    w.Add(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    w.NewTrack();
    w.Note(0, 0, 60, 480).Note(480, 1, 48, 960).Control(960, 0, 64, 127);
    return w.Load();
}

TEST(TakeExport, TheSongAndTheTakeReadBackWithOurReaderAndWithMidicsv) {
    const std::unique_ptr<smf::Song> song = Song();
    ASSERT_TRUE(song);
    using E = TakeEvent;
    // Song times before and after the tempo change (960 ticks = 1000 ms).
    const Take take = {{0, E::Pedal, 0, 100},     {250, E::NoteOn, 60, 80},
                       {1000, E::NoteOff, 60, 0}, {1250, E::NoteOn, 64, 1},
                       {1500, E::NoteOff, 64, 0}, {1500, E::Pedal, 0, 0}};
    const auto bytes = SongWithTake(*song, take, "2026-12-09 14:30");
    ASSERT_TRUE(bytes);

    const std::unique_ptr<smf::Song> back = smf::LoadFromMemory(bytes->data(), bytes->size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Format(), 1);
    EXPECT_EQ(back->Division(), 480);
    ASSERT_EQ(back->Tracks().size(), 3u);
    for (size_t t = 0; t < 2; ++t) {
        const smf::EventList& was = song->Tracks()[t].events;
        const smf::EventList& is = back->Tracks()[t].events;
        ASSERT_EQ(was.size(), is.size());
        for (size_t i = 0; i < was.size(); ++i) {
            EXPECT_EQ(was[i].tick, is[i].tick);
            EXPECT_EQ(was[i].kind, is[i].kind);
            EXPECT_EQ(std::vector<uint8_t>(song->Data(was[i]), song->Data(was[i]) + was[i].length),
                      std::vector<uint8_t>(back->Data(is[i]), back->Data(is[i]) + is[i].length));
        }
    }
    Take read;
    for (const smf::Event& e : back->Tracks()[2].events) {
        if (e.kind >= smf::kMetaBase) {
            continue;
        }
        const uint8_t* d = back->Data(e);
        const uint32_t ms = back->TickToMs(e.tick);
        if (d[0] == 0xB0) {
            read.push_back({ms, E::Pedal, 0, d[2]});
        } else {
            read.push_back({ms, d[0] == 0x90 ? E::NoteOn : E::NoteOff, d[1], d[2]});
        }
    }
    EXPECT_EQ(read, take);

    if (!MidicsvInstalled()) {
        GTEST_SKIP() << "midicsv is not installed (Debian package midicsv)";
    }
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("pv_take_export_" + std::to_string(getpid()));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes->data()),
               static_cast<std::streamsize>(bytes->size()));
    const std::vector<Record> records = Midicsv(path.string());
    std::filesystem::remove(path);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].type, "Header");
    EXPECT_EQ(records[0].fields, (std::vector<std::string>{"1", "3", "480"}));
    std::vector<std::string> takeTrack;
    int songNotes = 0;
    for (const Record& r : records) {
        if (r.track == 3 && r.type != "Start_track" && r.type != "End_track") {
            std::string text = std::to_string(r.tick) + " " + r.type;
            for (const std::string& f : r.fields) {
                text += " " + f;
            }
            takeTrack.push_back(text);
        }
        songNotes += r.track == 2 && r.type.starts_with("Note_") ? 1 : 0;
    }
    EXPECT_EQ(songNotes, 4);
    // 250 ms at 120 a minute is 240 ticks; past 960 ticks a tick is half as long.
    EXPECT_EQ(takeTrack,
              (std::vector<std::string>{"0 Title_t \"2026-12-09 14:30\"", "0 Control_c 0 64 100",
                                        "240 Note_on_c 0 60 80", "960 Note_off_c 0 60 0",
                                        "1440 Note_on_c 0 64 1", "1920 Note_off_c 0 64 0",
                                        "1920 Control_c 0 64 0"}));
}

TEST(TakeExport, AFormatTwoSongHasNoCommonTimeForATake) {
    std::vector<uint8_t> bytes = SmfWriter().Note(0, 0, 60, 100).Bytes();
    bytes[9] = 2;  // the header's format
    const std::unique_ptr<smf::Song> song = smf::LoadFromMemory(bytes.data(), bytes.size());
    ASSERT_TRUE(song);
    EXPECT_FALSE(SongWithTake(*song, Take{{0, TakeEvent::NoteOn, 60, 90}}, "x"));
}

}  // namespace
