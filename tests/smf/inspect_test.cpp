#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "inspect.h"
#include "smf_bytes.h"

using namespace smf_bytes;

namespace {

struct InspectRun {
    int status;
    std::string out;
    std::string err;
};

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(f);
    return text;
}

InspectRun Inspect(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"pelorvane-inspect"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = RunInspect(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, ReadAll(out), ReadAll(err)};
}

class InspectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Channel 2 sounds from the start, a system exclusive message comes at tick 48, channel
        // 16 at tick 96 where the tempo doubles; channel 2's note ends at tick 192.
        const Bytes song =
            File({Header(1, 3, 96), Track({Meta(0, 0x03, Text("Inspect\nme")), Tempo(96, 250000)}),
                  Track({Ev(0, {0xC1, 0x05}), Ev(0, {0x91, 0x3C, 0x64}),
                         Ev(48, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                         Ev(144, {0x91, 0x3C, 0x00}), EndOfTrack()}),
                  Track({Ev(96, {0x9F, 0x40, 0x40}), EndOfTrack()})});
        m_path = WriteTemp(std::string(song.begin(), song.end()));
        m_text = WriteTemp("not a MIDI file\n");
    }
    void TearDown() override {
        unlink(m_path.c_str());
        unlink(m_text.c_str());
    }
    static std::string WriteTemp(const std::string& content) {
        char path[] = "/tmp/pv_inspect_XXXXXX";
        const int fd = mkstemp(path);
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
        return path;
    }
    static std::string Head() {
        std::string head =
            "title Inspect me\nchannel 1 notes 0 program 0\n"
            "channel 2 notes 1 program 5\n";
        for (int ch = 3; ch <= 15; ++ch) {
            head += "channel " + std::to_string(ch) + " notes 0 program 0\n";
        }
        return head + "channel 16 notes 1 program 0\nspare 14\n";
    }

    std::string m_path;
    std::string m_text;
};

TEST_F(InspectTest, PrintsTheChannelsAndTheTimelineInOrder) {
    const InspectRun run = Inspect({m_path.c_str()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, Head() +
                           "event 0 c0 1 5 0\n"
                           "event 0 90 1 60 100\n"
                           "sysex 250 f0 6\n"
                           "event 500 90 15 64 64\n"
                           "event 750 90 1 60 0\n");
}

// A reset at the start of a song goes out before the program changes and volumes of its time,
// and a track name padded with zero bytes ends at the first.
TEST_F(InspectTest, ShowsResetsFirstAndTitlesWithoutTheirPadding) {
    const Bytes song = File(
        {Header(1, 2, 96),
         Track({Meta(0, 0x03, {'S', 'o', 'n', 'g', 0, 0, 0, 0}), Ev(0, {0xC0, 0x05}),
                Ev(0, {0xB0, 0x07, 0x64}), Ev(0, {0x90, 0x3C, 0x64}), EndOfTrack()}),
         Track({Ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                Ev(0, {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}),
                EndOfTrack()})});
    const std::string path = WriteTemp(std::string(song.begin(), song.end()));
    const InspectRun run = Inspect({path.c_str()});
    unlink(path.c_str());
    EXPECT_EQ(run.status, 0);
    const std::string out = run.out;
    EXPECT_EQ(out.substr(0, out.find('\n')), "title Song");
    EXPECT_NE(out.find("spare 15\n"
                       "sysex 0 f0 6\n"
                       "sysex 0 f0 11\n"
                       "event 0 c0 0 5 0\n"
                       "event 0 b0 0 7 100\n"
                       "event 0 90 0 60 100\n"),
              std::string::npos)
        << out;
}

// Each channel two hands share says how many notes each hand has and what decided it.
TEST_F(InspectTest, ChannelsOfTwoHandsShowTheirHands) {
    const Bytes song =
        File({Header(1, 3, 96),
              Track({Meta(0, 0x03, Text("Solo-Left")), Ev(0, {0x90, 0x48, 0x64}),
                     Ev(0, {0x91, 0x30, 0x64}), Ev(0, {0x91, 0x48, 0x64}),
                     Ev(0, {0x91, 0x4A, 0x64}), EndOfTrack()}),
              Track({Ev(0, {0x90, 0x30, 0x64}), Ev(0, {0x90, 0x32, 0x64}), EndOfTrack()}),
              Track({Ev(0, {0x92, 0x40, 0x64}), EndOfTrack()})});
    const std::string path = WriteTemp(std::string(song.begin(), song.end()));
    const InspectRun run = Inspect({"--summary", path.c_str()});
    unlink(path.c_str());
    EXPECT_EQ(run.status, 0);
    // Channel 1: the named track is the left hand, however high it plays. Channel 2: one track,
    // divided at middle C. Channel 3: one hand, so no division.
    EXPECT_NE(run.out.find("channel 1 notes 1 program 0\n"
                           "channel 1 hands right 2 left 1 by track name\n"
                           "channel 2 notes 0 program 0\n"
                           "channel 2 hands right 2 left 1 by split 60\n"
                           "channel 3 notes 1 program 0\n"
                           "channel 4 notes 0"),
              std::string::npos)
        << run.out;
}

TEST_F(InspectTest, SummaryCountsTheTimeline) {
    const InspectRun run = Inspect({"--summary", m_path.c_str()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Head() + "events 5\n");
}

TEST_F(InspectTest, FailuresGiveTheProgramsMessageAndStatus) {
    const std::string missing = m_path + ".gone";
    InspectRun run = Inspect({missing.c_str()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "ファイル\"" + missing + "\"はありません。\n");

    run = Inspect({"--summary", m_text.c_str()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "ファイル\"" + m_text + "\"はMIDIファイルではありません。\n");

    for (const InspectRun& wrong :
         {Inspect({}), Inspect({"--summary"}), Inspect({"--verbose", "x"}),
          Inspect({m_path.c_str(), m_path.c_str()})}) {
        EXPECT_EQ(wrong.status, 64);
        EXPECT_EQ(wrong.out, "");
        EXPECT_NE(wrong.err.find("usage: pelorvane-inspect [--summary] FILE"), std::string::npos);
    }
}

}  // namespace
