// A jump into a song must leave a synthesizer as playing the song from its start would have left
// it. A small model of a synthesizer, written apart from the engine's own bookkeeping, is fed
// once with everything up to a place and once with what the seek index sends for that place.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "engine/channel_state.h"
#include "engine/seek_index.h"

namespace {

// A General MIDI synthesizer's channel as it starts.
struct SynthChannel {
    std::array<int, 128> cc{};
    int program = 0;
    int programBank = 0;  // bank MSB * 1000 + LSB latched by the program change
    int bend = 8192;
    int pressure = 0;
    bool nrpn = false;
    std::map<std::tuple<bool, int, int>, std::pair<int, int>> parameters;

    SynthChannel() {
        cc[7] = 100;
        cc[10] = 64;
        cc[11] = 127;
        cc[91] = 40;
        for (int c = 98; c <= 101; ++c) {
            cc[c] = 127;
        }
    }
    bool SameSounding(const SynthChannel& o) const {
        return cc == o.cc && program == o.program && programBank == o.programBank &&
               bend == o.bend && pressure == o.pressure && nrpn == o.nrpn;
    }
    bool operator==(const SynthChannel&) const = default;
};

struct Synth {
    std::array<SynthChannel, 16> channels;
    std::vector<std::vector<uint8_t>> sysex;

    void Feed(const PerformanceEvent& e, const std::vector<uint8_t>& bytes) {
        if (e.IsSysex()) {
            sysex.push_back(bytes);
            if (IsSystemReset(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
                channels = {};
            }
            return;
        }
        SynthChannel& ch = channels[e.channel];
        if (e.status == 0xC0) {
            ch.program = e.data1;
            ch.programBank = ch.cc[0] * 1000 + ch.cc[32];
        } else if (e.status == 0xD0) {
            ch.pressure = e.data1;
        } else if (e.status == 0xE0) {
            ch.bend = e.data1 | e.data2 << 7;
        } else if (e.status == 0xB0) {
            const int c = e.data1;
            const int v = e.data2;
            if (c == 121) {
                for (int r : {1, 64, 65, 66, 67}) {
                    ch.cc[r] = 0;
                }
                ch.cc[11] = 127;
                for (int r = 98; r <= 101; ++r) {
                    ch.cc[r] = 127;
                }
                ch.bend = 8192;
                ch.pressure = 0;
                ch.nrpn = false;
            } else if (c == 120 || c == 123) {
                // notes only
            } else if (c == 6 || c == 38 || c == 96 || c == 97) {
                const int msb = ch.cc[ch.nrpn ? 99 : 101];
                const int lsb = ch.cc[ch.nrpn ? 98 : 100];
                if (msb == 127 && lsb == 127) {
                    return;
                }
                auto [it, added] = ch.parameters.try_emplace({ch.nrpn, msb, lsb}, -1, -1);
                auto& [dataMsb, dataLsb] = it->second;
                if (c == 6) {
                    dataMsb = v;
                } else if (c == 38) {
                    dataLsb = v;
                } else {
                    dataMsb = std::clamp(std::max(dataMsb, 0) + (c == 96 ? 1 : -1), 0, 127);
                }
            } else {
                ch.cc[c] = v;
                if (c == 98 || c == 99) {
                    ch.nrpn = true;
                } else if (c == 100 || c == 101) {
                    ch.nrpn = false;
                }
            }
        }
    }
};

struct Timeline {
    std::vector<PerformanceEvent> events;
    std::vector<SysexRef> sysex;
    std::vector<uint8_t> bytes;

    std::vector<uint8_t> SysexOf(const PerformanceEvent& e) const {
        if (!e.IsSysex()) {
            return {};
        }
        const SysexRef& r = sysex[e.sysex];
        return {bytes.begin() + r.offset, bytes.begin() + r.offset + r.length};
    }
    void AddShort(uint32_t time, uint8_t status, uint8_t channel, uint8_t d1, uint8_t d2) {
        PerformanceEvent e;
        e.time = time;
        e.status = status;
        e.channel = channel;
        e.data1 = d1;
        e.data2 = d2;
        events.push_back(e);
    }
    void AddSysex(uint32_t time, std::vector<uint8_t> data) {
        PerformanceEvent e;
        e.time = time;
        e.status = data[0] == 0xF0 ? 0xF0 : 0xF7;
        e.sysex = static_cast<uint32_t>(sysex.size());
        sysex.push_back({static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(data.size())});
        bytes.insert(bytes.end(), data.begin(), data.end());
        events.push_back(e);
    }
};

// A song shaped like real ones: resets and other system exclusive messages, programs with
// banks, controllers, parameters selected and set, bends and pressure, between many notes.
Timeline RealShapedSong(uint32_t seed, int count) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Timeline t;
    uint32_t time = 0;
    const uint8_t kControllers[] = {0,  32, 1,  7,   10,  11,  64,  91,  93, 6,  38,  96,
                                    97, 98, 99, 100, 101, 121, 120, 123, 71, 74, 122, 5};
    for (int i = 0; i < count; ++i) {
        time += static_cast<uint32_t>(pick(4) == 0 ? pick(40) : 0);
        const uint8_t ch = static_cast<uint8_t>(pick(16));
        const int kind = pick(100);
        if (kind < 40) {
            t.AddShort(time, 0x90, ch, static_cast<uint8_t>(40 + pick(40)),
                       static_cast<uint8_t>(pick(3) == 0 ? 0 : 1 + pick(126)));
        } else if (kind < 55) {
            t.AddShort(time, 0x80, ch, static_cast<uint8_t>(40 + pick(40)), 64);
        } else if (kind < 80) {
            const uint8_t cc = kControllers[pick(sizeof kControllers)];
            // Selections mostly name a real parameter, sometimes the null one.
            const uint8_t value = static_cast<uint8_t>(
                cc >= 98 && cc <= 101 ? (pick(5) == 0 ? 127 : pick(3)) : pick(128));
            t.AddShort(time, 0xB0, ch, cc, value);
        } else if (kind < 85) {
            t.AddShort(time, 0xC0, ch, static_cast<uint8_t>(pick(128)), 0);
        } else if (kind < 90) {
            t.AddShort(time, 0xE0, ch, static_cast<uint8_t>(pick(128)),
                       static_cast<uint8_t>(pick(128)));
        } else if (kind < 94) {
            t.AddShort(time, 0xD0, ch, static_cast<uint8_t>(pick(128)), 0);
        } else if (kind < 96) {
            t.AddShort(time, 0xA0, ch, static_cast<uint8_t>(pick(128)),
                       static_cast<uint8_t>(pick(128)));
        } else if (kind < 97) {
            switch (pick(3)) {
                case 0:
                    t.AddSysex(time, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
                    break;
                case 1:
                    t.AddSysex(time,
                               {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
                    break;
                default:
                    t.AddSysex(time, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
            }
        } else {
            t.AddSysex(time,
                       {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, static_cast<uint8_t>(0x11 + pick(15)),
                        0x15, static_cast<uint8_t>(pick(3)), 0x00, 0xF7});
        }
    }
    return t;
}

Synth PlayedUpTo(const Timeline& t, uint32_t position) {
    Synth s;
    for (uint32_t i = 0; i < position; ++i) {
        s.Feed(t.events[i], t.SysexOf(t.events[i]));
    }
    return s;
}

// Played up to from, then a jump to position.
Synth Sought(const Timeline& t, const SeekIndex& index, uint32_t position, uint32_t from = 0) {
    std::vector<PerformanceEvent> out;
    index.StateBefore(t.events, position, out);
    Synth s = PlayedUpTo(t, from);
    s.sysex.clear();
    for (const PerformanceEvent& e : out) {
        EXPECT_FALSE(e.IsNoteOn()) << "a jump sends no note";
        EXPECT_NE(e.status, 0x80);
        s.Feed(e, t.SysexOf(e));
    }
    return s;
}

TEST(SeekStateTest, AJumpLeavesTheSynthesizerAsPlayingFromTheStartWould) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        const Timeline t = RealShapedSong(seed, 20000);
        SeekIndex index;
        index.Build(t.events, t.sysex, t.bytes);
        std::mt19937 rng(seed * 77);
        std::vector<uint32_t> positions = {0,
                                           1,
                                           SeekIndex::kCheckpointInterval - 1,
                                           SeekIndex::kCheckpointInterval,
                                           SeekIndex::kCheckpointInterval + 1,
                                           static_cast<uint32_t>(t.events.size())};
        for (int i = 0; i < 40; ++i) {
            positions.push_back(rng() % static_cast<uint32_t>(t.events.size() + 1));
        }
        for (uint32_t position : positions) {
            const Synth played = PlayedUpTo(t, position);
            const Synth sought = Sought(t, index, position);
            EXPECT_EQ(sought.sysex, played.sysex) << "seed " << seed << " position " << position;
            for (int ch = 0; ch < 16; ++ch) {
                EXPECT_TRUE(sought.channels[ch] == played.channels[ch])
                    << "seed " << seed << " position " << position << " channel " << ch;
            }
        }
    }
}

TEST(SeekStateTest, AJumpBackUndoesWhatTheSongSetsLater) {
    for (uint32_t seed : {4u, 5u}) {
        const Timeline t = RealShapedSong(seed, 12000);
        SeekIndex index;
        index.Build(t.events, t.sysex, t.bytes);
        std::mt19937 rng(seed * 31);
        const auto size = static_cast<uint32_t>(t.events.size() + 1);
        for (int i = 0; i < 40; ++i) {
            const uint32_t from = rng() % size;
            const uint32_t to = rng() % size;
            const Synth played = PlayedUpTo(t, to);
            const Synth sought = Sought(t, index, to, from);
            EXPECT_EQ(sought.sysex, played.sysex) << "from " << from << " to " << to;
            // Parameter data has no power-on value common to every synthesizer; the rest must
            // be as if the song had played from its start.
            for (int ch = 0; ch < 16; ++ch) {
                EXPECT_TRUE(sought.channels[ch].SameSounding(played.channels[ch]))
                    << "from " << from << " to " << to << " channel " << ch;
            }
        }
    }
}

TEST(SeekStateTest, StateComesInTheOrderASynthesizerNeedsIt) {
    Timeline t;
    t.AddSysex(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    t.AddShort(0, 0xB0, 2, 0, 1);    // bank 1
    t.AddShort(0, 0xC0, 2, 40, 0);   // program 40 from bank 1
    t.AddShort(0, 0xB0, 2, 101, 0);  // pitch bend sensitivity ...
    t.AddShort(0, 0xB0, 2, 100, 0);
    t.AddShort(0, 0xB0, 2, 6, 12);  // ... an octave
    t.AddShort(5, 0x90, 2, 60, 100);
    t.AddShort(6, 0xB0, 2, 7, 90);
    t.AddShort(7, 0xE0, 2, 0, 80);
    t.AddShort(8, 0xB0, 2, 0, 3);  // a bank chosen for a later program
    t.AddShort(9, 0x80, 2, 60, 0);
    SeekIndex index;
    index.Build(t.events, t.sysex, t.bytes);
    std::vector<PerformanceEvent> out;
    index.StateBefore(t.events, SeekIndex::PositionAt(t.events, 9), out);
    std::vector<std::vector<int>> got;
    for (const PerformanceEvent& e : out) {
        got.push_back({e.status, e.channel, e.data1, e.data2});
    }
    const std::vector<std::vector<int>> expected = {
        {0xF0, 0, 0, 0},                                           // the reset
        {0xB0, 2, 0, 1},    {0xC0, 2, 40, 0},   {0xB0, 2, 0, 3},   // bank, program, bank
        {0xB0, 2, 7, 90},   {0xE0, 2, 0, 80},                      // controllers, bend
        {0xB0, 2, 101, 0},  {0xB0, 2, 100, 0},  {0xB0, 2, 6, 12},  // the parameter
        {0xB0, 2, 99, 127}, {0xB0, 2, 98, 127},                    // and the selection
        {0xB0, 2, 101, 0},  {0xB0, 2, 100, 0}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(SeekIndex::PositionAt(t.events, 9), 10u);
    EXPECT_EQ(SeekIndex::PositionAt(t.events, 1), 6u);
    EXPECT_EQ(SeekIndex::PositionAt(t.events, 100), t.events.size());
}

TEST(SeekStateTest, OnlyWholeSynthesizerResetsAreTakenForOne) {
    const std::vector<std::vector<uint8_t>> resets = {
        {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
        {0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7},
        {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},
        {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}};
    for (const auto& r : resets) {
        EXPECT_TRUE(IsSystemReset(r.data(), static_cast<uint32_t>(r.size())));
    }
    const std::vector<std::vector<uint8_t>> others = {
        {0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7},  // General MIDI off
        {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x00, 0x0F, 0xF7},
        {0xF0, 0x43, 0x10, 0x4C, 0x02, 0x01, 0x00, 0x01, 0xF7},
        {0x7E, 0x7F, 0x09, 0x01, 0xF7}};  // a continuation packet, not a message of its own
    for (const auto& o : others) {
        EXPECT_FALSE(IsSystemReset(o.data(), static_cast<uint32_t>(o.size())));
    }
}

}  // namespace
