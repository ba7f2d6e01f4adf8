#include "midi/memory_midi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace {

// Polls until the condition holds or the time is up; true when it held.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

class MemoryMidiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ManualClock::Install();
        ManualClock::Set(1000);
    }
    void TearDown() override { ManualClock::Uninstall(); }
};

TEST_F(MemoryMidiTest, RecordsEverySendWithTheClockAndFailsAfterClose) {
    InMemoryMidiService service({"In"}, {"Out A", "Out B"});
    std::shared_ptr<MidiOut> out;
    ASSERT_EQ(MIDI_OK, service.OpenOutput(1, out));
    EXPECT_EQ(0, out->SendShort(PackShortMessage(0x90, 60, 100)));
    ManualClock::Advance(5);
    auto sysex = std::make_shared<SysexBuffer>();
    sysex->bytes = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    EXPECT_EQ(0, out->SendSysex(sysex));
    EXPECT_TRUE(sysex->done.load());

    auto sent = service.TakeSent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(1000u, sent[0].timeMs);
    EXPECT_EQ(0x643C90u, sent[0].packed);
    EXPECT_EQ(1, sent[0].deviceId);
    EXPECT_TRUE(sent[1].sysex);
    EXPECT_EQ(1005u, sent[1].timeMs);
    EXPECT_EQ(sysex->bytes, sent[1].bytes);
    EXPECT_TRUE(service.Sent().empty());

    out->Close();
    EXPECT_NE(0, out->SendShort(0x90));
    EXPECT_TRUE(service.Sent().empty());
    EXPECT_EQ(0, service.OpenOutputCount());
}

TEST_F(MemoryMidiTest, OpenFailuresGiveTheirCodes) {
    InMemoryMidiService service({"In"}, {"Out"});
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    auto callback = [](MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {};
    EXPECT_EQ(MIDI_BAD_DEVICE_ID, service.OpenOutput(1, out));
    EXPECT_EQ(MIDI_BAD_DEVICE_ID, service.OpenInput(-1, callback, nullptr, in));
    for (int code : {2, 4, 7}) {
        service.FailOpenOutput(code);
        service.FailOpenInput(code);
        EXPECT_EQ(code, service.OpenOutput(0, out));
        EXPECT_EQ(code, service.OpenInput(0, callback, nullptr, in));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(nullptr, in);
    }
    service.FailOpenOutput(0);
    service.FailOpenInput(0);
    ASSERT_EQ(MIDI_OK, service.OpenOutput(0, out));
    std::shared_ptr<MidiOut> second;
    EXPECT_EQ(MIDI_ALLOCATED, service.OpenOutput(0, second));
    out->Close();
    EXPECT_EQ(MIDI_OK, service.OpenOutput(0, second));

    ASSERT_EQ(MIDI_OK, service.OpenInput(0, callback, nullptr, in));
    service.FailStart(true);
    EXPECT_NE(0, in->Start());
    in->Close();

    service.FailShortSends(true);
    EXPECT_NE(0, second->SendShort(0x90));
    service.FailSysexSends(true);
    EXPECT_NE(0, second->SendSysex(std::make_shared<SysexBuffer>()));
    EXPECT_TRUE(service.Sent().empty());
}

std::atomic<int> g_calls{0};
std::atomic<uint32_t> g_last{0};
std::thread::id g_callbackThread;

void CountingCallback(MidiIn*, uint32_t code, void* instance, uintptr_t param1, uintptr_t) {
    EXPECT_EQ(kMimData, code);
    EXPECT_EQ(&g_calls, instance);
    g_callbackThread = std::this_thread::get_id();
    g_last = static_cast<uint32_t>(param1);
    ++g_calls;
}

TEST_F(MemoryMidiTest, InputArrivesOnItsOwnThreadOnlyWhileStarted) {
    InMemoryMidiService service({"Keys"}, {});
    std::shared_ptr<MidiIn> in;
    g_calls = 0;
    ASSERT_EQ(MIDI_OK, service.OpenInput(0, &CountingCallback, &g_calls, in));
    EXPECT_EQ(0, service.InjectInput(0x403C90));  // not started yet: dropped
    ASSERT_EQ(MIDI_OK, in->Start());
    EXPECT_EQ(1, service.InjectInput(0x403C90));
    EXPECT_EQ(1, service.InjectInput(0x003C80));
    service.WaitForInputIdle();
    EXPECT_EQ(2, g_calls.load());
    EXPECT_EQ(0x003C80u, g_last.load());
    EXPECT_NE(std::this_thread::get_id(), g_callbackThread);

    in->Close();
    EXPECT_EQ(0, service.InjectInput(0x403C90));
    EXPECT_EQ(2, g_calls.load());
    EXPECT_EQ((std::vector<std::string>{"open-in 0", "start-in 0", "close-in 0"}),
              service.Operations());
}

std::atomic<bool> g_inCallback{false};
std::atomic<bool> g_calledAfterClose{false};
std::atomic<bool> g_closed{false};

void SlowCallback(MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {
    if (g_closed) {
        g_calledAfterClose = true;
    }
    g_inCallback = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    g_inCallback = false;
}

TEST_F(MemoryMidiTest, CloseWaitsForARunningCallback) {
    g_inCallback = false;
    g_calledAfterClose = false;
    g_closed = false;
    InMemoryMidiService service({"Keys"}, {});
    std::shared_ptr<MidiIn> in;
    ASSERT_EQ(MIDI_OK, service.OpenInput(0, &SlowCallback, nullptr, in));
    ASSERT_EQ(MIDI_OK, in->Start());
    for (int i = 0; i < 5; ++i) {
        service.InjectInput(0x403C90);
    }
    ASSERT_TRUE(WaitFor([] { return g_inCallback.load(); }, std::chrono::seconds(10)));
    in->Close();
    g_closed = true;
    EXPECT_FALSE(g_inCallback.load());
    // The four queued behind the running one never arrive, nor does anything injected now.
    EXPECT_EQ(0, service.InjectInput(0x403C90));
    EXPECT_FALSE(WaitFor([] { return g_calledAfterClose.load(); }, std::chrono::milliseconds(30)));
}

TEST_F(MemoryMidiTest, SysexFinishesLateByTheClockOrOnlyWhenTold) {
    InMemoryMidiService service({}, {"Out"});
    std::shared_ptr<MidiOut> out;
    ASSERT_EQ(MIDI_OK, service.OpenOutput(0, out));

    service.SetSysexCompletion(SysexCompletion::Late, 50);
    auto late = std::make_shared<SysexBuffer>();
    late->bytes = {0xF0, 0xF7};
    ASSERT_EQ(0, out->SendSysex(late));
    // The manual clock has not moved: it stays pending.
    EXPECT_FALSE(WaitFor([&] { return late->done.load(); }, std::chrono::milliseconds(10)));
    ManualClock::Advance(50);
    ASSERT_TRUE(WaitFor([&] { return late->done.load(); }, std::chrono::seconds(10)));

    service.SetSysexCompletion(SysexCompletion::Never);
    auto never = std::make_shared<SysexBuffer>();
    ASSERT_EQ(0, out->SendSysex(never));
    ManualClock::Advance(100000);
    EXPECT_FALSE(WaitFor([&] { return never->done.load(); }, std::chrono::milliseconds(10)));
    EXPECT_EQ(1, service.PendingSysexCount());
    service.CompletePendingSysex();
    EXPECT_TRUE(never->done.load());
}

}  // namespace
