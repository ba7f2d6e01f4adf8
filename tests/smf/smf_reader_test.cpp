#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "smf/smf.h"
#include "smf_bytes.h"

using namespace smf_bytes;

namespace {

std::unique_ptr<smf::Song> Load(const Bytes& bytes) {
    return smf::LoadFromMemory(bytes.data(), bytes.size());
}

// "tick kind bytes", e.g. "96 91 913c64", one string per event.
std::vector<std::string> Dump(const smf::Song& song, std::size_t track) {
    std::vector<std::string> out;
    for (const smf::Event& e : song.Tracks().at(track).events) {
        char head[32];
        std::snprintf(head, sizeof head, "%u %x ", e.tick, e.kind);
        std::string line = head;
        const uint8_t* data = song.Data(e);
        for (uint32_t i = 0; i < e.length; ++i) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", data[i]);
            line += hex;
        }
        out.push_back(line);
    }
    return out;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(SmfReaderTest, ChannelMessagesWithRunningStatusAndSilentNoteOns) {
    auto song =
        Load(File({Header(0, 1, 96),
                   Track({Ev(0, {0xC1, 0x05}), Ev(0, {0x91, 0x3C, 0x64}), Ev(10, {0x3E, 0x64}),
                          Ev(20, {0x3C, 0x00}), Ev(0, {0xD2, 0x40}), Ev(5, {0x41}),
                          Ev(0, {0xE3, 0x00, 0x40}), Ev(1, {0xA4, 0x3C, 0x10}),
                          Ev(1, {0xB5, 0x07, 0x64}), Ev(1, {0x80, 0x3C, 0x40}), EndOfTrack(7)})}));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Format(), 0);
    EXPECT_EQ(song->Division(), 96);
    ASSERT_EQ(song->Tracks().size(), 1u);
    EXPECT_EQ(Dump(*song, 0), (Lines{"0 c1 c105", "0 91 913c64", "10 91 913e64", "30 91 913c00",
                                     "30 d2 d240", "35 d2 d241", "35 e3 e30040", "36 a4 a43c10",
                                     "37 b5 b50764", "38 80 803c40", "45 12f "}));
}

TEST(SmfReaderTest, SystemExclusiveBytesAreTheMessageAsSentAndMetaEventsAreKept) {
    auto song = Load(File(
        {Header(1, 1, 480), Track({Ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                                   Ev(3, {0xF7, 0x02, 0x01, 0xF7}), Ev(0, {0xF0, 0x00}),
                                   Meta(4, 0x01, Text("hi")), Meta(0, 0x7F, {}), EndOfTrack()})}));
    ASSERT_TRUE(song);
    EXPECT_EQ(Dump(*song, 0), (Lines{"0 f0 f07e7f0901f7", "3 f7 01f7", "3 f0 f0", "7 101 6869",
                                     "7 17f ", "7 12f "}));
    // Lengths count the bytes as stored.
    EXPECT_EQ(song->Tracks()[0].events[0].length, 6u);
    EXPECT_EQ(song->Tracks()[0].events[1].length, 2u);
}

TEST(SmfReaderTest, RunningStatusSurvivesMetaAndSystemExclusiveEvents) {
    // Strictly these cancel running status, but files exist that rely on it going on; the
    // alternative would be to drop the rest of the track.
    auto song =
        Load(File({Header(0, 1, 96),
                   Track({Ev(0, {0x92, 0x40, 0x50}), Meta(1, 0x06, Text("m")), Ev(1, {0x41, 0x50}),
                          Ev(1, {0xF0, 0x01, 0xF7}), Ev(1, {0x42, 0x50}), EndOfTrack()})}));
    ASSERT_TRUE(song);
    EXPECT_EQ(Dump(*song, 0), (Lines{"0 92 924050", "1 106 6d", "2 92 924150", "3 f0 f0f7",
                                     "4 92 924250", "4 12f "}));
}

TEST(SmfReaderTest, TitleIsTheFirstTrackNameOfTheFirstTrackInItsOwnEncoding) {
    auto titled = [](const Bytes& firstTrack, const Bytes& secondTrack) {
        auto song = Load(File({Header(1, 2, 96), firstTrack, secondTrack}));
        return song ? song->Title() : std::string("<no song>");
    };
    const Bytes other = Track({Meta(0, 0x03, Text("Second")), EndOfTrack()});
    EXPECT_EQ(titled(Track({Meta(0, 0x01, Text("text")), Meta(0, 0x03, Text("First")),
                            Meta(0, 0x03, Text("Again")), EndOfTrack()}),
                     other),
              "First");
    // UTF-8 as it is.
    EXPECT_EQ(titled(Track({Meta(0, 0x03, {0xE3, 0x83, 0x94, 0xE3, 0x82, 0xA2, 0xE3, 0x83, 0x8E}),
                            EndOfTrack()}),
                     other),
              "ピアノ");
    // Japanese Windows files.
    EXPECT_EQ(
        titled(Track({Meta(0, 0x03, {0x97, 0xFB, 0x8F, 0x4B, 0x8B, 0xC8}), EndOfTrack()}), other),
        "練習曲");
    // Neither UTF-8 nor CP932.
    EXPECT_EQ(titled(Track({Meta(0, 0x03, {'C', 'a', 'f', 0xE9}), EndOfTrack()}), other),
              "Caf\xC3\xA9");
    // A name in another track is not the song's title.
    EXPECT_EQ(titled(Track({EndOfTrack()}), other), "");
    // Names padded with zero bytes end at the first; one of zeros only is no title.
    EXPECT_EQ(titled(Track({Meta(0, 0x03, {'P', 'a', 'd', 0, 0, 0, 'x'}), EndOfTrack()}), other),
              "Pad");
    EXPECT_EQ(titled(Track({Meta(0, 0x03, {0x97, 0xFB, 0x8F, 0x4B, 0, 0}), EndOfTrack()}), other),
              "練習");
    EXPECT_EQ(titled(Track({Meta(0, 0x03, {0, 0, 0, 0}), EndOfTrack()}), other), "");
}

TEST(SmfReaderTest, TempoChangesOfAnyTrackTimeEveryTrack) {
    auto song = Load(File({Header(1, 2, 96),
                           Track({Ev(0, {0x90, 0x3C, 0x64}), Ev(96, {0x80, 0x3C, 0x00}),
                                  Ev(192, {0x90, 0x3C, 0x64}), EndOfTrack()}),
                           Track({Tempo(0, 1000000), Tempo(192, 250000), EndOfTrack()})}));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->TickToMs(0), 0u);
    EXPECT_EQ(song->TickToMs(96), 1000u);
    EXPECT_EQ(song->TickToMs(192), 2000u);
    EXPECT_EQ(song->TickToMs(288), 2250u);
}

TEST(SmfReaderTest, DefaultTempoAndLastTempoAtTheSameTickWins) {
    auto song =
        Load(File({Header(1, 2, 100), Track({Tempo(100, 1000000), Tempo(0, 2000000), EndOfTrack()}),
                   Track({Tempo(100, 3000000), EndOfTrack()})}));
    ASSERT_TRUE(song);
    // 120 beats per minute until the first tempo event.
    EXPECT_EQ(song->TickToMs(50), 250u);
    EXPECT_EQ(song->TickToMs(100), 500u);
    EXPECT_EQ(song->TickToMs(200), 3500u);
}

TEST(SmfReaderTest, MillisecondsNeverDecreaseEvenAtExtremes) {
    // Very slow and stopped tempos, one tick per quarter, and ticks near the 32-bit limit.
    auto song = Load(File(
        {Header(1, 1, 1), Track({Tempo(0, 0xFFFFFF), Tempo(3, 0), Tempo(2, 1), Tempo(1, 0xFFFFFF),
                                 Ev(0x0FFFFFFF, {0x90, 0x3C, 0x64}), EndOfTrack()})}));
    ASSERT_TRUE(song);
    uint32_t previous = 0;
    for (uint64_t tick = 0; tick <= 0xFFFFFFFFull; tick = tick * 3 + 1) {
        const uint32_t ms = song->TickToMs(static_cast<uint32_t>(tick));
        EXPECT_GE(ms, previous) << "tick " << tick;
        previous = ms;
    }
    EXPECT_EQ(song->TickToMs(0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(song->TickToMs(3), song->TickToMs(5));  // tempo 0 stands still
}

TEST(SmfReaderTest, SmpteDivisionCountsFramesAndIgnoresTempo) {
    // 25 frames per second, 40 ticks per frame: one tick per millisecond.
    auto song =
        Load(File({Header(0, 1, 0xE728),
                   Track({Tempo(0, 1000000), Ev(1000, {0x90, 0x3C, 0x64}), EndOfTrack()})}));
    ASSERT_TRUE(song);
    EXPECT_TRUE(song->IsSmpte());
    EXPECT_EQ(song->TickToMs(1000), 1000u);
    EXPECT_EQ(song->TickToMs(1500), 1500u);
    // 29.97 frames per second (drop frame), 100 ticks per frame.
    auto drop = Load(File({Header(0, 1, 0xE364), Track({EndOfTrack()})}));
    ASSERT_TRUE(drop);
    EXPECT_EQ(drop->TickToMs(2997), 1000u);
    EXPECT_EQ(drop->TickToMs(29970), 10000u);
}

TEST(SmfReaderTest, RiffRmidWrapperIsUnwrapped) {
    const Bytes smf = File({Header(0, 1, 96), Track({Ev(0, {0x90, 0x3C, 0x64}), EndOfTrack()})});
    auto le32 = [](uint32_t v) {
        return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    Bytes body = Text("RMID");
    // An odd-length chunk before the data, padded to even length.
    Append(body, Text("LIST"));
    Append(body, le32(3));
    Append(body, {'a', 'b', 'c', 0});
    Append(body, Text("data"));
    Append(body, le32(static_cast<uint32_t>(smf.size())));
    Append(body, smf);
    Bytes riff = Text("RIFF");
    Append(riff, le32(static_cast<uint32_t>(body.size())));
    Append(riff, body);
    auto song = Load(riff);
    ASSERT_TRUE(song);
    EXPECT_EQ(Dump(*song, 0), (Lines{"0 90 903c64", "0 12f "}));

    // A RIFF file of another kind is not a song.
    riff[8] = 'W';
    EXPECT_FALSE(Load(riff));
}

TEST(SmfReaderTest, DamagedFilesFromTheWildStillLoad) {
    const Bytes second = Track({Ev(0, {0x95, 0x40, 0x40}), EndOfTrack()});
    {
        SCOPED_TRACE("last track cut short in the middle of an event");
        Bytes file = File(
            {Header(1, 2, 96), second, ChunkWithLength("MTrk", 100, Ev(0, {0x90, 0x3C, 0x64}))});
        Append(file, Ev(10, {0x90, 0x3E}));
        auto song = Load(file);
        ASSERT_TRUE(song);
        ASSERT_EQ(song->Tracks().size(), 2u);
        EXPECT_EQ(Dump(*song, 1), (Lines{"0 90 903c64"}));
    }
    {
        SCOPED_TRACE("missing End of Track");
        auto song = Load(File({Header(1, 2, 96), Track({Ev(0, {0x90, 0x3C, 0x64})}), second}));
        ASSERT_TRUE(song);
        EXPECT_EQ(Dump(*song, 0), (Lines{"0 90 903c64"}));
        EXPECT_EQ(Dump(*song, 1), (Lines{"0 95 954040", "0 12f "}));
    }
    {
        SCOPED_TRACE("length too large, End of Track present");
        Bytes body = Ev(0, {0x90, 0x3C, 0x64});
        Append(body, EndOfTrack());
        auto song = Load(File({Header(1, 2, 96), ChunkWithLength("MTrk", 12, body), second}));
        ASSERT_TRUE(song);
        ASSERT_EQ(song->Tracks().size(), 2u);
        EXPECT_EQ(Dump(*song, 1), (Lines{"0 95 954040", "0 12f "}));
    }
    {
        SCOPED_TRACE("length too large and no End of Track");
        auto song = Load(File(
            {Header(1, 2, 96), ChunkWithLength("MTrk", 40, Ev(0, {0x90, 0x3C, 0x64})), second}));
        ASSERT_TRUE(song);
        ASSERT_EQ(song->Tracks().size(), 2u);
        EXPECT_EQ(Dump(*song, 0), (Lines{"0 90 903c64"}));
        EXPECT_EQ(Dump(*song, 1), (Lines{"0 95 954040", "0 12f "}));
    }
    {
        SCOPED_TRACE("length too small");
        Bytes body = Ev(0, {0x90, 0x3C, 0x64});
        Append(body, Ev(5, {0x3E, 0x64}));
        Append(body, EndOfTrack());
        auto song = Load(File({Header(1, 2, 96), ChunkWithLength("MTrk", 3, body), second}));
        ASSERT_TRUE(song);
        ASSERT_EQ(song->Tracks().size(), 2u);
        EXPECT_EQ(Dump(*song, 0), (Lines{"0 90 903c64", "5 90 903e64", "5 12f "}));
        EXPECT_EQ(Dump(*song, 1), (Lines{"0 95 954040", "0 12f "}));
    }
    {
        SCOPED_TRACE("unknown chunks, a longer header, a wrong track count, trailing zeros");
        Bytes header = Chunk("MThd", {0, 1, 0, 9, 0, 96, 0xAA, 0xBB});
        Bytes file =
            File({header, Chunk("XFIH", Text("vendor data")), second, Chunk("MTrk", {}), second});
        Append(file, Bytes(64, 0));
        auto song = Load(file);
        ASSERT_TRUE(song);
        ASSERT_EQ(song->Tracks().size(), 3u);
        EXPECT_TRUE(song->Tracks()[1].events.empty());
        EXPECT_EQ(Dump(*song, 2), (Lines{"0 95 954040", "0 12f "}));
    }
    {
        SCOPED_TRACE("a header length of zero");
        auto song = Load(File({ChunkWithLength("MThd", 0, {0, 0, 0, 1, 0, 96}), second}));
        ASSERT_TRUE(song);
        ASSERT_EQ(song->Tracks().size(), 1u);
    }
    {
        SCOPED_TRACE("data that cannot be an event ends the track");
        auto song = Load(File(
            {Header(1, 2, 96),
             Track({Ev(0, {0x90, 0x3C, 0x64}), Ev(0, {0xF3, 0x01}), Ev(0, {0x90, 0x3E, 0x64})}),
             Track({Ev(0, {0x3C, 0x64})}), second}));
        ASSERT_TRUE(song);
        ASSERT_EQ(song->Tracks().size(), 3u);
        EXPECT_EQ(Dump(*song, 0), (Lines{"0 90 903c64"}));
        EXPECT_TRUE(song->Tracks()[1].events.empty());
        EXPECT_EQ(Dump(*song, 2), (Lines{"0 95 954040", "0 12f "}));
    }
    {
        SCOPED_TRACE("a system exclusive length past the end of the file");
        Bytes file = File({Header(0, 1, 96), ChunkWithLength("MTrk", 64, Ev(0, {0x90, 0x3C, 1}))});
        Append(file, {0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0x7F, 0x01, 0x02});
        auto song = Load(file);
        ASSERT_TRUE(song);
        EXPECT_EQ(Dump(*song, 0), (Lines{"0 90 903c01"}));
    }
}

TEST(SmfReaderTest, DataBytesNeverCarryAStatusBit) {
    // A note-on cut short by the next status byte would otherwise be sent as two messages.
    auto song = Load(File({Header(0, 1, 96), Track({Ev(0, {0x90, 0x3C, 0x90}), EndOfTrack()})}));
    ASSERT_TRUE(song);
    EXPECT_EQ(Dump(*song, 0), (Lines{"0 90 903c10", "0 12f "}));
}

TEST(SmfReaderTest, AnythingElseIsNoSong) {
    const Bytes track = Track({EndOfTrack()});
    EXPECT_FALSE(smf::LoadFromMemory(nullptr, 0));
    EXPECT_FALSE(Load({}));
    EXPECT_FALSE(Load(Text("MThd")));
    EXPECT_FALSE(Load(Text("This is a text file, not a song. MThd MTrk")));
    EXPECT_FALSE(Load(Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0}));  // 13 bytes
    EXPECT_FALSE(Load(File({Header(3, 1, 96), track})));                       // no such format
    EXPECT_FALSE(Load(File({Header(0, 1, 0), track})));                        // no time base
    EXPECT_FALSE(Load(File({Header(0, 1, 0xE700), track})));                   // no ticks per frame
    EXPECT_FALSE(Load(File({Chunk("RIFF", Text("RMIDLIST")), track})));
    // The header alone is a song with nothing in it.
    auto empty = Load(Header(1, 0, 96));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->Tracks().empty());
    EXPECT_EQ(empty->TickToMs(96), 500u);
}

TEST(SmfReaderTest, LoadFromFileReadsRegularFilesOnly) {
    const Bytes bytes =
        File({Header(0, 1, 96),
              Track({Meta(0, 0x03, Text("On disk")), Ev(0, {0x90, 0x3C, 0x64}), EndOfTrack()})});
    char path[] = "/tmp/pv_smf_test_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    auto song = smf::LoadFromFile(path);
    unlink(path);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Title(), "On disk");
    EXPECT_EQ(song->Tracks()[0].events.size(), 3u);

    EXPECT_FALSE(smf::LoadFromFile(path));  // gone
    EXPECT_FALSE(smf::LoadFromFile("/tmp"));
    EXPECT_FALSE(smf::LoadFromFile("/dev/zero"));  // endless, must not hang
    EXPECT_FALSE(smf::LoadFromFile(""));
    // A named pipe nobody writes to must not block the program.
    ASSERT_EQ(mkfifo(path, 0600), 0);
    EXPECT_FALSE(smf::LoadFromFile(path));
    unlink(path);
}
