// Checks our reader against midicsv, an independent Standard MIDI File reader: every channel and
// system exclusive event with its tick and bytes, and the milliseconds against a tempo map built
// from what midicsv reports.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "smf/smf.h"
#include "smf_bytes.h"

namespace {

struct RefEvent {
    uint32_t tick;
    std::vector<uint8_t> bytes;
};

struct RefTempo {
    uint32_t tick;
    uint32_t micros;
};

struct Reference {
    int division = 0;
    std::string title;
    bool titleSeen = false;
    std::vector<std::vector<RefEvent>> tracks;
    std::vector<RefTempo> tempos;
};

bool HaveMidicsv() {
    return std::system(
               "command -v midicsv >/dev/null 2>&1 && command -v csvmidi >/dev/null 2>&1") == 0;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) {
        const auto first = field.find_first_not_of(' ');
        fields.push_back(first == std::string::npos ? "" : field.substr(first));
    }
    return fields;
}

std::vector<uint8_t> DataBytes(const std::vector<std::string>& f, std::size_t lengthField) {
    const std::size_t length = std::stoul(f.at(lengthField));
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(static_cast<uint8_t>(std::stoul(f.at(lengthField + 1 + i))));
    }
    return out;
}

// Runs midicsv on the file and turns its records into events.
Reference ReadWithMidicsv(const std::string& midPath) {
    Reference ref;
    const std::string command = "midicsv '" + midPath + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return ref;
    }
    std::string text;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        text.append(buffer, n);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;

    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = SplitFields(line);
        if (f.size() < 3) {
            continue;
        }
        const int track = std::stoi(f[0]);
        const uint32_t tick = static_cast<uint32_t>(std::stoul(f[1]));
        const std::string& type = f[2];
        if (type == "Header") {
            ref.division = std::stoi(f.at(5));
            continue;
        }
        if (type == "Start_track") {
            ref.tracks.resize(std::max<std::size_t>(ref.tracks.size(), track));
            continue;
        }
        if (track < 1) {
            continue;
        }
        auto& events = ref.tracks.at(track - 1);
        auto channel = [&](uint8_t type) {
            return static_cast<uint8_t>(type | std::stoul(f.at(3)));
        };
        auto byte = [&](std::size_t i) { return static_cast<uint8_t>(std::stoul(f.at(i))); };
        if (type == "Note_on_c") {
            events.push_back({tick, {channel(0x90), byte(4), byte(5)}});
        } else if (type == "Note_off_c") {
            events.push_back({tick, {channel(0x80), byte(4), byte(5)}});
        } else if (type == "Poly_aftertouch_c") {
            events.push_back({tick, {channel(0xA0), byte(4), byte(5)}});
        } else if (type == "Control_c") {
            events.push_back({tick, {channel(0xB0), byte(4), byte(5)}});
        } else if (type == "Program_c") {
            events.push_back({tick, {channel(0xC0), byte(4)}});
        } else if (type == "Channel_aftertouch_c") {
            events.push_back({tick, {channel(0xD0), byte(4)}});
        } else if (type == "Pitch_bend_c") {
            const unsigned value = std::stoul(f.at(4));
            events.push_back(
                {tick, {channel(0xE0), uint8_t(value & 0x7F), uint8_t((value >> 7) & 0x7F)}});
        } else if (type == "System_exclusive") {
            std::vector<uint8_t> bytes{0xF0};
            const auto data = DataBytes(f, 3);
            bytes.insert(bytes.end(), data.begin(), data.end());
            events.push_back({tick, bytes});
        } else if (type == "System_exclusive_packet") {
            events.push_back({tick, DataBytes(f, 3)});
        } else if (type == "Tempo") {
            ref.tempos.push_back({tick, static_cast<uint32_t>(std::stoul(f.at(3)))});
        } else if (type == "Title_t" && track == 1 && !ref.titleSeen) {
            const auto open = line.find('"');
            const auto close = line.rfind('"');
            ref.title = line.substr(open + 1, close - open - 1);
            ref.titleSeen = true;
        }
    }
    return ref;
}

// Milliseconds of a tick from midicsv's tempo events, in floating point from scratch.
double ReferenceMs(const Reference& ref, uint32_t tick) {
    if (ref.division < 0) {
        const int fps = -(ref.division >> 8);
        const int ticksPerFrame = ref.division & 0xFF;
        const double frameRate = fps == 29 ? 29.97 : fps;
        return tick * 1000.0 / (frameRate * ticksPerFrame);
    }
    std::vector<RefTempo> tempos = ref.tempos;
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const RefTempo& a, const RefTempo& b) { return a.tick < b.tick; });
    double ms = 0;
    uint32_t at = 0;
    double msPerTick = 500.0 / ref.division;
    for (const RefTempo& t : tempos) {
        if (t.tick >= tick) {
            break;
        }
        ms += (t.tick - at) * msPerTick;
        at = t.tick;
        msPerTick = t.micros / 1000.0 / ref.division;
    }
    // A tempo change exactly at the tick does not matter for its own time.
    return ms + (tick - at) * msPerTick;
}

class MidicsvCompareTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveMidicsv()) {
            GTEST_SKIP() << "midicsv/csvmidi are not installed (Debian package midicsv); "
                            "the comparison with an independent reader cannot run";
        }
        char pattern[] = "/tmp/pv_midicsv_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir);
        }
    }

    std::string WriteFile(const std::string& name, const std::string& content) {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string MidiFromCsv(const std::string& name, const std::string& csv) {
        const std::string csvPath = WriteFile(name + ".csv", csv);
        const std::string midPath = m_dir + "/" + name + ".mid";
        const std::string command = "csvmidi -z '" + csvPath + "' '" + midPath + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return midPath;
    }

    // Compares everything both readers report; returns the number of events compared.
    std::size_t Compare(const std::string& midPath) {
        const Reference ref = ReadWithMidicsv(midPath);
        auto song = smf::LoadFromFile(midPath);
        EXPECT_TRUE(song) << midPath;
        if (!song) {
            return 0;
        }
        if (ref.titleSeen) {
            EXPECT_EQ(song->Title(), ref.title);
        }
        EXPECT_EQ(song->Tracks().size(), ref.tracks.size());
        std::size_t compared = 0;
        for (std::size_t t = 0; t < std::min(song->Tracks().size(), ref.tracks.size()); ++t) {
            std::vector<const smf::Event*> ours;
            for (const smf::Event& e : song->Tracks()[t].events) {
                if (e.kind < smf::kMetaBase) {
                    ours.push_back(&e);
                }
            }
            const auto& theirs = ref.tracks[t];
            EXPECT_EQ(ours.size(), theirs.size()) << "track " << t;
            for (std::size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i) {
                const smf::Event& e = *ours[i];
                const uint8_t* data = song->Data(e);
                const std::vector<uint8_t> bytes(data, data + e.length);
                EXPECT_EQ(e.tick, theirs[i].tick) << "track " << t << " event " << i;
                EXPECT_EQ(bytes, theirs[i].bytes) << "track " << t << " event " << i;
                const uint8_t first = theirs[i].bytes.empty() ? 0xF7 : theirs[i].bytes[0];
                const uint32_t kind = first >= 0x80 && first < 0xF0 ? first
                                      : first == 0xF0               ? 0xF0
                                                                    : 0xF7;
                EXPECT_EQ(e.kind, kind) << "track " << t << " event " << i;
                EXPECT_NEAR(song->TickToMs(e.tick), ReferenceMs(ref, e.tick), 1.0)
                    << "track " << t << " event " << i << " tick " << e.tick;
                ++compared;
            }
        }
        return compared;
    }

    std::string m_dir;
};

TEST_F(MidicsvCompareTest, EveryKindOfEventWithTempoChangesInSeveralTracks) {
    const std::string csv =
        "0, 0, Header, 1, 3, 96\n"
        "1, 0, Start_track\n"
        "1, 0, Title_t, \"Etude, No. 1\"\n"
        "1, 0, Time_signature, 4, 2, 24, 8\n"
        "1, 0, Tempo, 400000\n"
        "1, 96, Tempo, 300000\n"
        "1, 500, Tempo, 1000000\n"
        "1, 600, End_track\n"
        "2, 0, Start_track\n"
        "2, 0, Title_t, \"Piano\"\n"
        "2, 0, Program_c, 0, 5\n"
        "2, 0, Control_c, 0, 7, 100\n"
        "2, 0, Note_on_c, 0, 60, 100\n"
        "2, 0, Note_on_c, 0, 64, 90\n"
        "2, 10, System_exclusive, 5, 126, 127, 9, 1, 247\n"
        "2, 12, System_exclusive_packet, 2, 1, 247\n"
        "2, 48, Note_on_c, 0, 60, 0\n"
        "2, 48, Note_off_c, 0, 64, 64\n"
        "2, 50, Pitch_bend_c, 3, 8192\n"
        "2, 51, Pitch_bend_c, 3, 16383\n"
        "2, 52, Channel_aftertouch_c, 3, 77\n"
        "2, 53, Channel_aftertouch_c, 3, 78\n"
        "2, 54, Poly_aftertouch_c, 15, 60, 3\n"
        "2, 300, Note_on_c, 9, 36, 127\n"
        "2, 300, Note_on_c, 9, 38, 127\n"
        "2, 700, Note_off_c, 9, 36, 0\n"
        "2, 700, End_track\n"
        "3, 0, Start_track\n"
        "3, 200, Tempo, 700000\n"
        "3, 250, Program_c, 15, 127\n"
        "3, 250, Program_c, 15, 0\n"
        "3, 260, Note_on_c, 15, 127, 1\n"
        "3, 99999, Note_off_c, 15, 127, 0\n"
        "3, 99999, End_track\n"
        "0, 0, End_of_file\n";
    EXPECT_EQ(Compare(MidiFromCsv("kinds", csv)), 20u);
}

TEST_F(MidicsvCompareTest, FormatsZeroAndTwo) {
    const std::string format0 =
        "0, 0, Header, 0, 1, 480\n"
        "1, 0, Start_track\n"
        "1, 0, Title_t, \"Single track\"\n"
        "1, 0, Note_on_c, 1, 60, 100\n"
        "1, 240, Tempo, 250000\n"
        "1, 480, Note_off_c, 1, 60, 0\n"
        "1, 268435455, Note_on_c, 2, 61, 1\n"
        "1, 268435455, End_track\n"
        "0, 0, End_of_file\n";
    EXPECT_EQ(Compare(MidiFromCsv("format0", format0)), 3u);
    const std::string format2 =
        "0, 0, Header, 2, 2, 120\n"
        "1, 0, Start_track\n"
        "1, 0, Note_on_c, 0, 60, 100\n"
        "1, 120, Note_on_c, 0, 60, 0\n"
        "1, 120, End_track\n"
        "2, 0, Start_track\n"
        "2, 60, Tempo, 1000000\n"
        "2, 180, Control_c, 4, 64, 127\n"
        "2, 180, End_track\n"
        "0, 0, End_of_file\n";
    EXPECT_EQ(Compare(MidiFromCsv("format2", format2)), 3u);
}

TEST_F(MidicsvCompareTest, SmpteDivisionAndHandWrittenRunningStatus) {
    using namespace smf_bytes;
    const Bytes file =
        File({Header(1, 2, 0xE728),
              Track({Ev(0, {0xC0, 0x01}), Ev(1, {0x02}), Ev(0x0FFFFFFF, {0x03}),
                     Ev(1, {0xE1, 0x00, 0x40}), Ev(1, {0x7F, 0x7F}), EndOfTrack()}),
              Track({Tempo(0, 100000), Ev(0, {0xF0, 0x03, 0x43, 0x10, 0xF7}),
                     Ev(250, {0x9F, 0x3C, 0x40}), Ev(0, {0x3C, 0x00}), EndOfTrack()})});
    EXPECT_EQ(Compare(WriteFile("smpte.mid", std::string(file.begin(), file.end()))), 8u);
}

// A larger file of random events, so that long runs of running status, long system exclusive
// messages and many tempo changes are all covered.
TEST_F(MidicsvCompareTest, RandomSong) {
    std::mt19937 random(20261208);
    auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    const int tracks = 6;
    std::ostringstream csv;
    csv << "0, 0, Header, 1, " << tracks << ", 960\n";
    for (int t = 1; t <= tracks; ++t) {
        csv << t << ", 0, Start_track\n";
        uint32_t tick = 0;
        const int count = t == 1 ? 300 : 5000;
        for (int i = 0; i < count; ++i) {
            tick += uniform(0, 3) == 0 ? uniform(0, 5000) : uniform(0, 20);
            csv << t << ", " << tick << ", ";
            if (t == 1 || (t == 4 && uniform(0, 50) == 0)) {  // tempo changes in two tracks
                csv << "Tempo, " << uniform(1, 16777215) << "\n";
                continue;
            }
            const int channel = uniform(0, 15);
            switch (uniform(0, 9)) {
                case 0:
                    csv << "Program_c, " << channel << ", " << uniform(0, 127) << "\n";
                    break;
                case 1:
                    csv << "Control_c, " << channel << ", " << uniform(0, 127) << ", "
                        << uniform(0, 127) << "\n";
                    break;
                case 2:
                    csv << "Pitch_bend_c, " << channel << ", " << uniform(0, 16383) << "\n";
                    break;
                case 3:
                    csv << "Channel_aftertouch_c, " << channel << ", " << uniform(0, 127) << "\n";
                    break;
                case 4: {
                    const int length = uniform(1, 300);
                    csv << (uniform(0, 1) ? "System_exclusive, " : "System_exclusive_packet, ")
                        << length;
                    for (int b = 0; b < length; ++b) {
                        csv << ", " << (b + 1 == length ? 247 : uniform(0, 127));
                    }
                    csv << "\n";
                    break;
                }
                case 5:
                    csv << "Note_off_c, " << channel << ", " << uniform(0, 127) << ", "
                        << uniform(0, 127) << "\n";
                    break;
                default:
                    csv << "Note_on_c, " << channel % 3 << ", " << uniform(0, 127) << ", "
                        << uniform(0, 127) << "\n";
                    break;
            }
        }
        csv << t << ", " << tick << ", End_track\n";
    }
    csv << "0, 0, End_of_file\n";
    EXPECT_GT(Compare(MidiFromCsv("random", csv.str())), 20000u);
}

}  // namespace
