// The window core with outputs that write through their own sender, as the system's do: a
// device that takes its time holds up neither the clock's tick nor a window command, and a
// device that disappears is found by the watcher and told once.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "../midi/blocked_device.h"
#include "core_fixture.h"
#include "engine_test_support.h"
#include "midi/device_opening.h"
#include "platform/clock.h"

namespace {

using namespace std::chrono_literals;

class SlowOrLostDeviceTest : public CoreFixture {
  protected:
    void SetUp() override {
        service.SendThroughSender(true);
        CoreFixture::SetUp();
        ASSERT_TRUE(core->m_messages.empty());
        service.DrainSenders();
        service.ClearSent();
    }
    void TearDown() override {
        service.BlockSends(false);
        service.CompletePendingSysex();
        CoreFixture::TearDown();
    }
    void Tick(uint32_t ms = 1) { AdvanceAndTick(ms); }
    std::vector<uint32_t> Delivered() {
        service.DrainSenders();
        std::vector<uint32_t> sent = service.SentShort();
        service.ClearSent();
        return sent;
    }
};

SmfWriter Scale() {
    SmfWriter w;
    for (int i = 0; i < 20; ++i) {
        w.Note(i * 50, 1, 60 + i, 40);
    }
    return w;
}

bool Contains(const std::vector<uint32_t>& all, const std::vector<uint32_t>& part) {
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
}

// The device takes nothing at all while a song starts, plays and stops: every command and every
// tick returns, and once the device takes data again it gets all of it, in order.
TEST_F(SlowOrLostDeviceTest, ABlockedDeviceHoldsUpNeitherTheClockNorTheWindow) {
    core->AddLoadedSong(Scale().Load(), 1);
    service.BlockSends(true);
    EXPECT_TRUE(ReturnsWhileBlocked(service, [&] {
        core->StartPlay(PlayMode::ModelPerformance);
        for (int i = 0; i < 40; ++i) {
            Tick(10);
        }
        core->StopPlay();
    }));
    EXPECT_TRUE(service.Sent().empty());
    service.BlockSends(false);
    const std::vector<uint32_t> sent = Delivered();
    ASSERT_GE(sent.size(), SilenceAll().size());
    EXPECT_EQ(std::vector<uint32_t>(sent.begin(), sent.begin() + 32), SilenceAll());
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(Contains(sent, {Msg(0x91, 60 + i, 100)})) << i;
    }
    std::vector<uint32_t> stop;
    for (int c = 0; c < 16; ++c) {
        stop.push_back(Msg(0xB0 + c, 0x78, 0));
    }
    EXPECT_EQ(std::vector<uint32_t>(sent.end() - 16, sent.end()), stop);
}

// A device that has not finished a system exclusive message: the clock goes on, and what it
// sends in the meantime reaches the device after the message and its volume follow-up.
TEST_F(SlowOrLostDeviceTest, TheClockGoesOnWhileTheDeviceTakesASysexAndOrderIsKept) {
    SmfWriter w;
    w.Add(5, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).Note(5, 2, 60, 10).Note(30, 2, 62, 10);
    core->AddLoadedSong(w.Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    Tick();
    Delivered();
    service.SetSysexCompletion(SysexCompletion::Never);
    EXPECT_TRUE(ReturnsWhileBlocked(service, [&] {
        for (int i = 0; i < 10; ++i) {
            Tick(5);
        }
    }));
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (service.PendingSysexCount() == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
    }
    ASSERT_EQ(service.PendingSysexCount(), 1);
    service.CompletePendingSysex();
    service.DrainSenders();
    const std::vector<RecordedMessage> sent = service.Sent();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_TRUE(sent[0].sysex);
    EXPECT_EQ(sent[1].packed, Msg(0xB0, 7, 0));  // the lighting channel, after the message
    std::vector<uint32_t> notes;
    for (const RecordedMessage& m : sent) {
        if (!m.sysex && (m.packed & 0xFF) == 0x92) {
            notes.push_back(m.packed);
        }
    }
    EXPECT_EQ(notes, (std::vector<uint32_t>{Msg(0x92, 60, 100), Msg(0x92, 62, 100)}));
}

// The keyboard is pulled out while a song plays: sends fail until the watcher finds it gone,
// then play stops on the next tick, nothing more is tried on it, and the learner hears once.
TEST_F(SlowOrLostDeviceTest, AnOutputPulledOutIsFoundByTheWatcherAndToldOnce) {
    core->AddLoadedSong(Scale().Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    Tick(100);
    ASSERT_EQ(core->CurrentPlayState(), Playing);
    service.DisconnectOutput(0);
    ASSERT_TRUE(service.WaitForPresenceCheck(10s));
    Tick(50);
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    service.DrainSenders();
    const int tried = service.SendsToGoneOutputs();
    for (int i = 0; i < 20; ++i) {
        Tick(20);
    }
    core->StartPlay(PlayMode::ModelPerformance);
    Tick(5);
    service.DrainSenders();
    EXPECT_EQ(service.SendsToGoneOutputs(), tried);
    core->CheckDevices();
    core->CheckDevices();
    EXPECT_EQ(core->m_messages, std::vector<std::string>{kOutputLostText});
}

TEST_F(SlowOrLostDeviceTest, AnInputPulledOutIsFoundByTheWatcherAndToldOnce) {
    core->AddLoadedSong(Scale().Load(), 1);
    core->StartPlay(PlayMode::MyPaceLesson);
    Tick();
    ASSERT_EQ(core->CurrentPlayState(), Playing);
    service.DisconnectInput(0);
    ASSERT_TRUE(service.WaitForPresenceCheck(10s));
    core->CheckDevices();
    core->CheckDevices();
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    EXPECT_EQ(core->m_messages, std::vector<std::string>{kInputLostText});
}

}  // namespace
