// pelorvane-play --record with a keyboard on a real MIDI transport: what the keyboard played in a
// lesson is kept with the run, also when the keyboard is pulled out, and pelorvane-history
// exports it as it was played.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "engine/take.h"
#include "engine_test_support.h"
#include "jack_fixture.h"
#include "midi/device_opening.h"
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

// What was played, in order: kind, key and velocity or pedal position.
std::vector<std::array<int, 3>> Played(const Take& take) {
    std::vector<std::array<int, 3>> played;
    for (const TakeEvent& e : take) {
        played.push_back({e.kind, e.key, e.value});
    }
    return played;
}

bool Heard(TestKeyboard& keyboard, uint32_t message) {
    const std::vector<uint32_t> received = keyboard.Received();
    return std::find(received.begin(), received.end(), message) != received.end();
}

// True once the keyboard has received the message; false when it has not within the limit, or
// when the player ended first.
bool Hears(TestKeyboard& keyboard, ChildProcess& player, uint32_t message) {
    return WaitFor([&] { return Heard(keyboard, message) || !player.Running(); }, 20s) &&
           Heard(keyboard, message);
}

// A note of the other part, which tells the keyboard where the song stands.
uint32_t Marker(int key) {
    return Msg(0x91, key, 90);
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
    // The song in this test's folder; its path.
    std::string WriteSong(const SmfWriter& writer) {
        const std::string path = m_home.Path() + "/song.mid";
        const std::vector<uint8_t> bytes = writer.Bytes();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // pelorvane-play recording a lesson of the song's first channel on the keyboard.
    std::unique_ptr<ChildProcess> RecordLesson(const TestKeyboard& keyboard,
                                               const std::string& song) {
        return Start(PV_PLAY_TOOL, {"--record", "--mode", "lesson", "--practice", "1", "--in",
                                    keyboard.OutPortName(), "--out", keyboard.InPortName(), song});
    }
    // What pelorvane-history prints of the song.
    std::string HistoryOf(const std::string& song) {
        auto history = Start(PV_HISTORY_TOOL, {song});
        EXPECT_EQ(history->Wait(20s), 0) << history->Err();
        return history->Out();
    }
    // The song with the take of its first run, as pelorvane-history exports it to out.
    std::unique_ptr<smf::Song> ExportFirstTake(const std::string& song, const std::string& out) {
        auto exported = Start(PV_HISTORY_TOOL, {song, "--take", "1", "--export", out});
        EXPECT_EQ(exported->Wait(20s), 0) << exported->Err();
        return smf::LoadFromFile(out);
    }

    TempDir m_home;
    int m_runs = 0;
};

TEST_F(JackRecordTest, ALessonPlayedOnTheKeyboardIsKeptAndExportsAsPlayed) {
    TestKeyboard keyboard("Record Keyboard");
    // The lesson waits for 60 at the start and for 64 at 1.5 s; one tick is a millisecond.
    constexpr uint32_t kSecondChord = 1500;
    SmfWriter writer;
    writer.Note(0, 0, 60, 400).Note(kSecondChord, 0, 64, 400);
    for (const auto& [at, key] : {std::pair{500u, 72}, {1000u, 74}, {1450u, 76}, {2000u, 77}}) {
        writer.Note(at, 1, key, 50, 90);
    }
    writer.Note(2500, 1, 79, 100, 90);
    const std::string song = WriteSong(writer);
    auto play = RecordLesson(keyboard, song);
    auto hears = [&](uint32_t message) { return Hears(keyboard, *play, message); };
    // The learner's keyboard: a key, the pedal down, the key up; the lesson waits for the next
    // key while the learner looks for it; the key with a light touch, the pedal up, the key up as
    // a note on of velocity 0, as many keyboards send it.
    ASSERT_TRUE(hears(Msg(0x90, 60, 0x7F))) << play->Err();
    keyboard.Send(0x90, 60, 101);
    ASSERT_TRUE(hears(Marker(72))) << play->Err();
    keyboard.Send(0xB0, 64, 100);
    ASSERT_TRUE(hears(Marker(74))) << play->Err();
    keyboard.Send(0x80, 60, 64);
    ASSERT_TRUE(hears(Marker(76))) << play->Err();
    EXPECT_FALSE(WaitFor([&] { return Heard(keyboard, Marker(77)); }, 300ms))
        << "the lesson did not wait";
    keyboard.Send(0x90, 64, 37);
    keyboard.Send(0xB0, 64, 0);
    ASSERT_TRUE(hears(Marker(77))) << play->Err();
    keyboard.Send(0x90, 64, 0);
    ASSERT_EQ(play->Wait(20s), 0) << play->Err();
    EXPECT_EQ(play->Err(), "");

    // The run is kept as a lesson of both chords played without a wrong key.
    const std::string line = HistoryOf(song);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_NE(line.find(" lesson 100 "), std::string::npos) << line;
    EXPECT_NE(line.find(" chords=2 "), std::string::npos) << line;
    EXPECT_NE(line.find(" wrong=0 "), std::string::npos) << line;

    const std::string out = m_home.Path() + "/take.mid";
    const std::unique_ptr<smf::Song> back = ExportFirstTake(song, out);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Tracks().size(), 2u);  // the song's track and the take
    const Take take = TakeTrack(*back);
    // What was played, in order, at the velocities sent; a release as the note off it is.
    using E = TakeEvent;
    EXPECT_EQ(Played(take), (std::vector<std::array<int, 3>>{{E::NoteOn, 60, 101},
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

// A keyboard pulled out in the middle of a lesson, a key and the pedal still down: the lesson
// stops with the message of a lost device, and the run is kept with what was played up to then,
// the key and the pedal let go where it stopped.
TEST_F(JackRecordTest, AKeyboardPulledOutKeepsTheRunAndItsTakeUpToThen) {
    auto keyboard = std::make_unique<TestKeyboard>("Unplugged Keyboard");
    SmfWriter writer;
    writer.Note(0, 0, 60, 400).Note(500, 1, 72, 50, 90).Note(5000, 0, 62, 400);
    const std::string song = WriteSong(writer);
    auto play = RecordLesson(*keyboard, song);
    ASSERT_TRUE(Hears(*keyboard, *play, Msg(0x90, 60, 0x7F))) << play->Err();
    keyboard->Send(0x90, 60, 80);
    keyboard->Send(0xB0, 64, 127);
    ASSERT_TRUE(Hears(*keyboard, *play, Marker(72))) << play->Err();
    keyboard.reset();
    // Only the loss can end a lesson that waits at 5 s for a key nobody plays.
    ASSERT_EQ(play->Wait(20s), 0) << play->Err();
    // The learner is told once, in the words of whichever of the keyboard's two ports was found
    // gone first; the lines starting with '>' are the debug lines.
    std::vector<std::string> told;
    std::istringstream err(play->Err());
    for (std::string line; std::getline(err, line);) {
        if (!line.starts_with(">")) {
            told.push_back(line);
        }
    }
    ASSERT_EQ(told.size(), 1u) << play->Err();
    EXPECT_TRUE(told[0] == kInputLostText || told[0] == kOutputLostText) << told[0];

    const std::string line = HistoryOf(song);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_NE(line.find(" lesson 100 bars=1-1 "), std::string::npos) << line;
    EXPECT_NE(line.find(" chords=1 "), std::string::npos) << line;
    const std::unique_ptr<smf::Song> back = ExportFirstTake(song, m_home.Path() + "/take.mid");
    ASSERT_TRUE(back);
    const Take take = TakeTrack(*back);
    using E = TakeEvent;
    EXPECT_EQ(Played(take),
              (std::vector<std::array<int, 3>>{
                  {E::NoteOn, 60, 80}, {E::Pedal, 0, 127}, {E::NoteOff, 60, 0}, {E::Pedal, 0, 0}}));
    ASSERT_EQ(take.size(), 4u);
    EXPECT_EQ(take[2].songMs, take[3].songMs);
    EXPECT_GE(take[2].songMs, 500u);
    EXPECT_LT(take[2].songMs, 5000u);
}

}  // namespace
