// The watcher that finds a device gone: it asks on its own thread, and the finding is a flag
// that whoever sends or polls reads without asking the system.

#include "midi/device_watcher.h"

#include <gtest/gtest.h>

#include <chrono>

#include "midi/memory_midi.h"

namespace {

using namespace std::chrono_literals;

void NoInput(MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {}

TEST(DeviceWatcher, FindsADisconnectedDeviceOnItsNextRoundAndOnlyThat) {
    InMemoryMidiService service({"In A", "In B"}, {"Out A", "Out B"});
    service.SendThroughSender(true);
    std::shared_ptr<MidiOut> outA, outB;
    std::shared_ptr<MidiIn> inA, inB;
    ASSERT_EQ(service.OpenOutput(0, outA), MIDI_OK);
    ASSERT_EQ(service.OpenOutput(1, outB), MIDI_OK);
    ASSERT_EQ(service.OpenInput(0, &NoInput, nullptr, inA), MIDI_OK);
    ASSERT_EQ(service.OpenInput(1, &NoInput, nullptr, inB), MIDI_OK);

    service.DisconnectOutput(0);
    service.DisconnectInput(1);
    ASSERT_TRUE(service.WaitForPresenceCheck(10s));
    EXPECT_TRUE(outA->Gone());
    EXPECT_FALSE(outB->Gone());
    EXPECT_TRUE(inA->StillPresent());
    EXPECT_FALSE(inB->StillPresent());
    EXPECT_NE(outA->SendShort(0x90), MIDI_OK);
    EXPECT_EQ(outB->SendShort(0x90), MIDI_OK);
}

TEST(DeviceWatcher, KeepsNoClosedDeviceOpen) {
    InMemoryMidiService service({"In"}, {"Out"});
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    ASSERT_EQ(service.OpenOutput(0, out), MIDI_OK);
    ASSERT_EQ(service.OpenInput(0, &NoInput, nullptr, in), MIDI_OK);
    out.reset();
    in.reset();
    // A round under way may hold them a moment longer; after the next one they are gone.
    ASSERT_TRUE(service.WaitForPresenceCheck(10s));
    EXPECT_EQ(service.OpenOutputCount(), 0);
    EXPECT_EQ(service.OpenInputCount(), 0);
    // And the device can be opened again.
    ASSERT_EQ(service.OpenOutput(0, out), MIDI_OK);
}

TEST(DeviceWatcher, EndsWithoutWaitingForItsInterval) {
    // Destroyed while its thread sleeps out a long interval: ends at once rather than hang.
    auto watcher = std::make_unique<DeviceWatcher>(std::chrono::hours(1));
    InMemoryMidiService service({}, {"Out"});
    std::shared_ptr<MidiOut> out;
    ASSERT_EQ(service.OpenOutput(0, out), MIDI_OK);
    watcher->Watch(out);
    watcher.reset();
    EXPECT_FALSE(out->Gone());
}

}  // namespace
