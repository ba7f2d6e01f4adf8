// The sender between the engine and a device: nobody who sends waits on the device, and the
// device still gets every message, in order, as it would have without the sender.

#include "midi/output_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "blocked_device.h"
#include "midi/memory_midi.h"
#include "platform/debug_output.h"

namespace {

using namespace std::chrono_literals;

std::mutex g_linesLock;
std::vector<std::string> g_lines;

void Capture(std::string_view line) {
    std::lock_guard<std::mutex> lock(g_linesLock);
    g_lines.emplace_back(line);
}

std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(g_linesLock);
    return g_lines;
}

class OutputSenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(g_linesLock);
            g_lines.clear();
        }
        SetDebugSinkForTest(&Capture);
        service.SendThroughSender(true);
        ASSERT_EQ(service.OpenOutput(0, out), MIDI_OK);
        sender = std::dynamic_pointer_cast<OutputSender>(out);
        ASSERT_TRUE(sender);
    }
    void TearDown() override {
        service.BlockSends(false);
        service.CompletePendingSysex();
        out.reset();
        sender.reset();
        SetDebugSinkForTest(nullptr);
    }

    static std::shared_ptr<SysexBuffer> Sysex(std::vector<uint8_t> bytes,
                                              std::vector<uint32_t> then = {}) {
        auto buffer = std::make_shared<SysexBuffer>();
        buffer->bytes = std::move(bytes);
        buffer->then = std::move(then);
        return buffer;
    }

    // What reached the device: short messages as packed values, a system exclusive message as
    // 0xF0000000 plus its length.
    std::vector<uint32_t> Received() {
        std::vector<uint32_t> received;
        for (const RecordedMessage& m : service.Sent()) {
            received.push_back(m.sysex ? 0xF0000000u + static_cast<uint32_t>(m.bytes.size())
                                       : m.packed);
        }
        return received;
    }

    InMemoryMidiService service{{"In"}, {"Out"}};
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<OutputSender> sender;
};

TEST_F(OutputSenderTest, ABlockedDeviceHoldsUpNoSenderAndGetsEverythingInOrderLater) {
    service.BlockSends(true);
    EXPECT_TRUE(ReturnsWhileBlocked(service, [&] {
        for (uint32_t i = 0; i < 200; ++i) {
            ASSERT_EQ(out->SendShort(0x90 | (i % 128) << 8 | 100 << 16), MIDI_OK);
        }
        EXPECT_TRUE(out->WriteSysex(Sysex({0xF0, 1, 0xF7}, {0x0007B0})));
        ASSERT_EQ(out->SendShort(0x80), MIDI_OK);
    }));
    EXPECT_TRUE(service.Sent().empty());
    service.BlockSends(false);
    sender->Drain();
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 200; ++i) {
        expected.push_back(0x90 | (i % 128) << 8 | 100 << 16);
    }
    expected.insert(expected.end(), {0xF0000003u, 0x0007B0u, 0x80u});
    EXPECT_EQ(Received(), expected);
    EXPECT_TRUE(Lines().empty());
}

// A batch wakes the sender once at its end; nothing sent in it may stay behind waiting for a
// later send.
TEST_F(OutputSenderTest, ABatchReachesTheDeviceOnceItEnds) {
    {
        MidiOutBatch batch(out);
        for (uint32_t i = 1; i <= 3; ++i) {
            ASSERT_EQ(out->SendShort(i), MIDI_OK);
        }
    }
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (service.Sent().size() < 3 && std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
    }
    EXPECT_EQ(Received(), (std::vector<uint32_t>{1, 2, 3}));
}

// With nothing queued before it, a message the device takes at once is written by the caller:
// it is there when the send returns, without a hop through the sender's thread.
TEST_F(OutputSenderTest, WithNothingBeforeItAMessageIsAtTheDeviceWhenTheSendReturns) {
    for (uint32_t i = 0; i < 100; ++i) {
        ASSERT_EQ(out->SendShort(0x90 | i << 8), MIDI_OK);
        ASSERT_EQ(service.Sent().size(), i + 1);
    }
    EXPECT_TRUE(Lines().empty());
}

// A short message sent after a system exclusive one waits until the device has finished it,
// and the message's own follow-up goes first.
TEST_F(OutputSenderTest, MessagesAfterASysexWaitUntilTheDeviceHasFinishedIt) {
    service.SetSysexCompletion(SysexCompletion::Never);
    ASSERT_EQ(out->SendShort(0x01), MIDI_OK);
    ASSERT_TRUE(out->WriteSysex(Sysex({0xF0, 1, 2, 0xF7}, {0x0007B0})));
    ASSERT_EQ(out->SendShort(0x02), MIDI_OK);
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (service.PendingSysexCount() == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
    }
    ASSERT_EQ(service.PendingSysexCount(), 1);
    EXPECT_EQ(Received(), (std::vector<uint32_t>{0x01, 0xF0000004u}));
    service.CompletePendingSysex();
    sender->Drain();
    EXPECT_EQ(Received(), (std::vector<uint32_t>{0x01, 0xF0000004u, 0x0007B0, 0x02}));
    EXPECT_TRUE(Lines().empty());
}

// The device never finishes: the sender gives up after the usual second, drops the follow-up,
// says so once, and goes on with what came after.
TEST_F(OutputSenderTest, AnUnfinishedSysexIsGivenUpAndWhatFollowsStillGoes) {
    service.SetSysexCompletion(SysexCompletion::Never);
    ASSERT_TRUE(out->WriteSysex(Sysex({0xF0, 1, 0xF7}, {0x0007B0})));
    ASSERT_EQ(out->SendShort(0x02), MIDI_OK);
    sender->Drain();
    EXPECT_EQ(Received(), (std::vector<uint32_t>{0xF0000003u, 0x02}));
    EXPECT_EQ(Lines(), std::vector<std::string>{">midiOutUnprepareHeader() was fail."});
    EXPECT_EQ(service.PendingSysexCount(), 1);  // the device still has its bytes
}

TEST_F(OutputSenderTest, DeviceFailuresAreReportedOnTheSenderAndSendingGoesOn) {
    service.FailSysexSends(true);
    service.FailShortSends(true);
    ASSERT_TRUE(out->WriteSysex(Sysex({0xF0, 1, 0xF7}, {0x0007B0})));
    ASSERT_EQ(out->SendShort(0x01), MIDI_OK);
    sender->Drain();
    service.FailShortSends(false);
    ASSERT_EQ(out->SendShort(0x02), MIDI_OK);
    sender->Drain();
    EXPECT_EQ(Received(), std::vector<uint32_t>{0x02});
    EXPECT_EQ(Lines(), (std::vector<std::string>{">midiOutLongMsg() was fail.",
                                                 ">midiOutShortMsg() was fail."}));
}

// The queue is reserved once: when a stuck device lets it fill, a send fails at once rather
// than wait or grow, and what was accepted still goes out.
TEST_F(OutputSenderTest, AFullQueueRefusesAtOnceAndKeepsWhatItAccepted) {
    service.BlockSends(true);
    size_t accepted = 0;
    EXPECT_TRUE(ReturnsWhileBlocked(service, [&] {
        while (accepted <= OutputSender::kCapacity + 1 &&
               out->SendShort(0x90 | (accepted % 128) << 8) == MIDI_OK) {
            ++accepted;
        }
    }));
    // The one the sender took to the device, and a full queue behind it.
    EXPECT_GE(accepted, OutputSender::kCapacity);
    EXPECT_LE(accepted, OutputSender::kCapacity + 1);
    service.BlockSends(false);
    sender->Drain();
    EXPECT_EQ(service.Sent().size(), accepted);
    EXPECT_EQ(out->SendShort(0x80), MIDI_OK);
}

// Closing (the window's stop and close) lets everything sent before reach the device, the stop's
// All Sound Off included, then closes it; nothing is taken afterwards.
TEST_F(OutputSenderTest, CloseDeliversWhatWasSentThenClosesTheDevice) {
    service.SetSysexCompletion(SysexCompletion::Late, 20);
    ASSERT_TRUE(out->WriteSysex(Sysex({0xF0, 1, 0xF7})));
    for (int c = 0; c < 16; ++c) {
        ASSERT_EQ(out->SendShort(PackShortMessage(static_cast<uint8_t>(0xB0 + c), 0x78, 0)),
                  MIDI_OK);
    }
    out->Close();
    EXPECT_EQ(service.Sent().size(), 17u);
    EXPECT_EQ(service.Operations().back(), "close-out 0");
    EXPECT_NE(out->SendShort(0x80), MIDI_OK);
    EXPECT_FALSE(out->WriteSysex(Sysex({0xF0, 2, 0xF7})));
    EXPECT_EQ(service.Sent().size(), 17u);
}

// A device found gone takes nothing more: what is queued is dropped, not tried on it.
TEST_F(OutputSenderTest, NothingIsTriedOnADeviceFoundGone) {
    service.BlockSends(true);
    ASSERT_EQ(out->SendShort(0x01), MIDI_OK);
    ASSERT_EQ(out->SendShort(0x02), MIDI_OK);
    ASSERT_EQ(out->SendShort(0x03), MIDI_OK);
    service.UnplugOutput(0);
    EXPECT_TRUE(out->Gone());
    EXPECT_NE(out->SendShort(0x04), MIDI_OK);
    service.BlockSends(false);
    sender->Drain();
    // The first had reached the device before it went; the others were never tried.
    EXPECT_LE(service.SendsToGoneOutputs(), 1);
    EXPECT_TRUE(Lines().empty());
}

}  // namespace
