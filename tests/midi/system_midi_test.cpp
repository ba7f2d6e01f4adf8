#include "midi/system_midi.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/debug_output.h"

namespace {

std::vector<std::string> g_lines;

void Capture(std::string_view line) {
    g_lines.emplace_back(line);
}

TEST(SystemMidiTest, WithoutAnyMidiSystemOnlyTheSynthesizerIsListedAndOneLineSaysWhy) {
    if (access("/dev/snd/seq", F_OK) == 0) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    std::string server = "pelorvane-no-server-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    g_lines.clear();
    SetDebugSinkForTest(&Capture);
    {
        auto service = CreateSystemMidiService();
        for (int round = 0; round < 2; ++round) {
            EXPECT_TRUE(service->InputNames().empty());
            EXPECT_EQ(std::vector<std::string>{kBuiltInSynthName}, service->OutputNames());
        }
        std::shared_ptr<MidiIn> in;
        EXPECT_EQ(MIDI_BAD_DEVICE_ID,
                  service->OpenInput(
                      0, [](MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {}, nullptr, in));
        std::shared_ptr<MidiOut> out;
        EXPECT_EQ(MIDI_BAD_DEVICE_ID, service->OpenOutput(1, out));
    }
    SetDebugSinkForTest(nullptr);
    unsetenv("JACK_DEFAULT_SERVER");
    EXPECT_EQ(1u, g_lines.size());
}

}  // namespace
