// pelorvane-play --record with a keyboard on a real MIDI transport: what the keyboard played in a
// lesson is kept with the run, and pelorvane-history exports it as it was played.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "engine/take.h"
#include "engine_test_support.h"
#include "jack_fixture.h"
#include "midi_file_writer/smf_writer.h"
#include "midicsv_records.h"
#include "smf/smf.h"

namespace {

using namespace std::chrono_literals;

// The take track of an exported file (its last), as our reader reads it.
Take TakeTrack(const smf::Song& song) {
    Take take;
    for (const smf::Event& e : song.Tracks().back().events) {
        if (e.kind >= smf::kMetaBase) {
            continue;
        }
        const uint8_t* d = song.Data(e);
        const uint32_t ms = song.TickToMs(e.tick);
        if (d[0] == 0xB0 && d[1] == 64) {
            take.push_back({ms, TakeEvent::Pedal, 0, d[2]});
        } else if (d[0] == 0x90 || d[0] == 0x80) {
            take.push_back({ms, d[0] == 0x90 ? TakeEvent::NoteOn : TakeEvent::NoteOff, d[1], d[2]});
        }
    }
    return take;
}

// The take track's channel messages as midicsv writes them: tick, type, channel and data.
std::vector<std::string> TakeTrackRecords(const smf::Song& song) {
    std::vector<std::string> records;
    for (const smf::Event& e : song.Tracks().back().events) {
        if (e.kind >= smf::kMetaBase) {
            continue;
        }
        const uint8_t* d = song.Data(e);
        const char* type = d[0] == 0x90 ? "Note_on_c" : d[0] == 0x80 ? "Note_off_c" : "Control_c";
        records.push_back(std::to_string(e.tick) + " " + type + " 0 " + std::to_string(d[1]) + " " +
                          std::to_string(d[2]));
    }
    return records;
}

class JackRecordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!JackServerReady()) {
            GTEST_SKIP() << "no JACK server could be started (is jackd2 installed?)";
        }
    }
    // One of the tools, started with its history in this test's folder.
    std::unique_ptr<ChildProcess> Start(const char* tool, std::vector<std::string> args) {
        args.insert(args.begin(), tool);
        return std::make_unique<ChildProcess>(
            args, ChildProcess::Variables{{"XDG_DATA_HOME", m_home.Path()}},
            m_home.Path() + "/" + std::to_string(++m_runs));
    }

    TempDir m_home;
    int m_runs = 0;
};

TEST_F(JackRecordTest, ALessonPlayedOnTheKeyboardIsKeptAndExportsAsPlayed) {
    TestKeyboard keyboard("Record Keyboard");
    // The lesson waits for 60 at the start and for 64 at 1.5 s; the other part's notes tell the
    // keyboard where the song stands (one tick is a millisecond).
    constexpr uint32_t kSecondChord = 1500;
    SmfWriter writer;
    writer.Note(0, 0, 60, 400).Note(kSecondChord, 0, 64, 400);
    for (const auto& [at, key] : {std::pair{500u, 72}, {1000u, 74}, {1450u, 76}, {2000u, 77}}) {
        writer.Note(at, 1, key, 50, 90);
    }
    writer.Note(2500, 1, 79, 100, 90);
    const std::string song = m_home.Path() + "/lesson.mid";
    const std::vector<uint8_t> bytes = writer.Bytes();
    std::ofstream(song, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    auto play = Start(PV_PLAY_TOOL, {"--record", "--mode", "lesson", "--practice", "1", "--in",
                                     keyboard.OutPortName(), "--out", keyboard.InPortName(), song});
    auto heard = [&](uint32_t message) {
        const std::vector<uint32_t> received = keyboard.Received();
        return std::find(received.begin(), received.end(), message) != received.end();
    };
    auto waitFor = [&](uint32_t message) {
        return WaitFor([&] { return heard(message) || !play->Running(); }, 20s) && heard(message);
    };
    auto marker = [](int key) { return Msg(0x91, key, 90); };
    // The learner's keyboard: a key, the pedal down, the key up; the lesson waits for the next
    // key while the learner looks for it; the key with a light touch, the pedal up, the key up as
    // a note on of velocity 0, as many keyboards send it.
    ASSERT_TRUE(waitFor(Msg(0x90, 60, 0x7F))) << play->Err();
    keyboard.Send(0x90, 60, 101);
    ASSERT_TRUE(waitFor(marker(72))) << play->Err();
    keyboard.Send(0xB0, 64, 100);
    ASSERT_TRUE(waitFor(marker(74))) << play->Err();
    keyboard.Send(0x80, 60, 64);
    ASSERT_TRUE(waitFor(marker(76))) << play->Err();
    EXPECT_FALSE(WaitFor([&] { return heard(marker(77)); }, 300ms)) << "the lesson did not wait";
    keyboard.Send(0x90, 64, 37);
    keyboard.Send(0xB0, 64, 0);
    ASSERT_TRUE(waitFor(marker(77))) << play->Err();
    keyboard.Send(0x90, 64, 0);
    ASSERT_EQ(play->Wait(20s), 0) << play->Err();
    EXPECT_EQ(play->Err(), "");

    // The run is kept as a lesson of both chords played without a wrong key.
    auto history = Start(PV_HISTORY_TOOL, {song});
    ASSERT_EQ(history->Wait(20s), 0) << history->Err();
    const std::string line = history->Out();
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_NE(line.find(" lesson 100 "), std::string::npos) << line;
    EXPECT_NE(line.find(" chords=2 "), std::string::npos) << line;
    EXPECT_NE(line.find(" wrong=0 "), std::string::npos) << line;

    const std::string out = m_home.Path() + "/take.mid";
    auto exported = Start(PV_HISTORY_TOOL, {song, "--take", "1", "--export", out});
    ASSERT_EQ(exported->Wait(20s), 0) << exported->Err();
    const std::unique_ptr<smf::Song> back = smf::LoadFromFile(out);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Tracks().size(), 2u);  // the song's track and the take
    const Take take = TakeTrack(*back);
    // What was played, in order, at the velocities sent; a release as the note off it is.
    using E = TakeEvent;
    std::vector<std::tuple<E::Kind, int, int>> played;
    for (const TakeEvent& e : take) {
        played.emplace_back(e.kind, e.key, e.value);
    }
    EXPECT_EQ(played, (std::vector<std::tuple<E::Kind, int, int>>{{E::NoteOn, 60, 101},
                                                                  {E::Pedal, 0, 100},
                                                                  {E::NoteOff, 60, 0},
                                                                  {E::NoteOn, 64, 37},
                                                                  {E::Pedal, 0, 0},
                                                                  {E::NoteOff, 64, 0}}));
    ASSERT_EQ(take.size(), 6u);
    // Each at the song time it was played at. A key the lesson waits for is at its chord however
    // long the learner looked for it; the rest follow the part that told the keyboard when, and
    // nothing passes a chord still awaited. The allowance is for the clock's tick only.
    constexpr uint32_t kTick = 100;
    EXPECT_LE(take[0].songMs, kTick);
    EXPECT_GE(take[1].songMs, 500u);
    EXPECT_GE(take[2].songMs, 1000u);
    EXPECT_LE(take[2].songMs, kSecondChord);
    EXPECT_GE(take[3].songMs, kSecondChord);
    EXPECT_LE(take[3].songMs, kSecondChord + kTick);
    EXPECT_LE(take[4].songMs, 2000u);
    EXPECT_GE(take[5].songMs, 2000u);
    EXPECT_LE(take[5].songMs, 2600u);
    EXPECT_TRUE(std::is_sorted(take.begin(), take.end(),
                               [](const E& a, const E& b) { return a.songMs < b.songMs; }));

    if (!MidicsvInstalled()) {
        GTEST_SKIP() << "midicsv is not installed (Debian package midicsv)";
    }
    // An independent reader finds the same take track, at the same ticks.
    std::vector<std::string> theirs;
    for (const MidicsvRecord& r : Midicsv(out)) {
        if (r.track == 2 && r.type.ends_with("_c")) {
            theirs.push_back(std::to_string(r.tick) + " " + r.type + " " + r.fields.at(0) + " " +
                             r.fields.at(1) + " " + r.fields.at(2));
        }
    }
    EXPECT_EQ(theirs, TakeTrackRecords(*back));
}

}  // namespace
