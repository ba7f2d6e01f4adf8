#include "midi/port_names.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Names(const std::vector<SystemPort>& ports) {
    std::vector<std::string> names;
    for (const auto& port : ports) {
        names.push_back(port.name);
    }
    return names;
}

TEST(PortNamesTest, AlsaNumbersAreDroppedAndHardwareComesFirst) {
    // As the ALSA sequencer reports them, in client-number order.
    std::vector<std::string> reported = {
        "Midi Through:Midi Through Port-0 14:0",
        "Digital Piano:Digital Piano MIDI 1 24:0",
        "Pelorvane:Pelorvane 128:0",
        "VMPK Output:out 130:0",
        "Arturia:Arturia MIDI 1 20:0",
    };
    auto ports = MakePortList(reported, PortSystem::Alsa);
    EXPECT_EQ(
        (std::vector<std::string>{"Arturia:Arturia MIDI 1", "Digital Piano:Digital Piano MIDI 1",
                                  "VMPK Output:out", "Midi Through:Midi Through Port-0"}),
        Names(ports));
    // Each entry still knows where the system lists it.
    EXPECT_EQ(4u, ports[0].index);
    EXPECT_EQ(1u, ports[1].index);

    // Replugged: new client numbers, same names, same order.
    reported[1] = "Digital Piano:Digital Piano MIDI 1 28:0";
    reported[4] = "Arturia:Arturia MIDI 1 32:0";
    EXPECT_EQ(Names(ports), Names(MakePortList(reported, PortSystem::Alsa)));
}

TEST(PortNamesTest, RepeatedNamesAreNumberedInListOrderIgnoringCase) {
    auto ports = MakePortList(
        {"Keys:MIDI 1 20:0", "Keys:MIDI 1 24:0", "keys:midi 1 28:0", "Keys:MIDI 1 2 30:0"},
        PortSystem::Alsa);
    // Sorted by name; "Keys:MIDI 1 2" is a real device's name, so the repeats step over it.
    EXPECT_EQ((std::vector<std::string>{"Keys:MIDI 1", "Keys:MIDI 1 3", "Keys:MIDI 1 2",
                                        "keys:midi 1 4"}),
              Names(ports));
}

TEST(PortNamesTest, JackOwnClientsAndA2jNumbersAreHandled) {
    auto ports = MakePortList({"Pelorvane:Pelorvane", "Pelorvane-01:Pelorvane", "Pelorvane-fan:out",
                               "a2j:Keys [20] (capture): Keys MIDI 1", "system:midi_capture_1"},
                              PortSystem::Jack);
    EXPECT_EQ((std::vector<std::string>{"a2j:Keys (capture): Keys MIDI 1", "system:midi_capture_1",
                                        "Pelorvane-fan:out"}),
              Names(ports));
    EXPECT_TRUE(IsOwnPort("Pelorvane:anything", PortSystem::Alsa));
    EXPECT_FALSE(IsOwnPort("Pelorvane-01:x", PortSystem::Alsa));
    // A name with colons of its own is kept whole apart from the numbers.
    EXPECT_EQ("A:B:C", StablePortName("A:B:C 129:3", PortSystem::Alsa));
    EXPECT_EQ("A:B:C 129:3", StablePortName("A:B:C 129:3", PortSystem::Jack));
}

}  // namespace
