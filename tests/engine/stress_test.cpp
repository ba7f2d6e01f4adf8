#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "engine_test_support.h"
#include "platform/clock.h"

namespace {

// The clock thread, the input thread and this thread all at work on the same core: starting,
// switching, stopping and replacing performances, changing speed, ticks and devices, while the
// keyboard plays. Run under ThreadSanitizer and AddressSanitizer it must stay silent.
TEST(Stress, ClockInputAndCommandsTogether) {
    ManualClock::Uninstall();
    InMemoryMidiService service{{"Digital Keyboard-1"}, {"Digital Keyboard-1", "Other"}};
    service.SetSysexCompletion(SysexCompletion::Late, 2);
    TempDir dir;
    TestCore core(service, dir.Path());
    core.OpenMidiDevices();

    SmfWriter w;
    for (int i = 0; i < 400; ++i) {
        const uint32_t t = static_cast<uint32_t>(i * 7);
        w.Note(t, i % 4, 48 + i % 24, 20).Note(t + 3, 9, 36, 5);
        if (i % 50 == 0) {
            w.Add(t, {0xF0, 0x41, 0x10, 0xF7});
        }
        if (i % 30 == 0) {
            w.Control(t, i % 4, 7, 90);
        }
    }
    core.AddLoadedSong(w.Load(), 0b0011);
    std::array<int, 16> rows;
    rows.fill(-1);
    for (int ch = 0; ch < 4; ++ch) {
        rows[ch] = ch;
    }
    core.Session().SetChannelRows(rows);
    core.StartClockThread();

    std::atomic<bool> stop{false};
    std::thread keyboard([&] {
        std::mt19937 rng(1);
        while (!stop.load()) {
            const int key = 48 + static_cast<int>(rng() % 24);
            service.InjectInput(Msg(rng() % 3 == 0 ? 0x80 : 0x90, key, rng() % 2 ? 100 : 0));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    std::mt19937 rng(2);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int commands = 0;
    while (std::chrono::steady_clock::now() < end) {
        switch (rng() % 9) {
            case 0:
            case 1:
                core.StartPlay(static_cast<PlayMode>(rng() % 4));
                break;
            case 2:
                core.StopPlay();
                break;
            case 3:
                core.m_slider = static_cast<int>(rng() % 5);
                core.ApplySpeedFromSlider();
                break;
            case 4:
                core.OnTrackCheckChangeCore({{0, rng() % 2 == 0}, {1, rng() % 2 == 0}});
                break;
            case 5:
                core.Activity().m_now = static_cast<uint32_t>(rng());
                break;
            case 6:
                if (rng() % 20 == 0) {
                    core.ApplyDeviceNames("Digital Keyboard-1",
                                          rng() % 2 ? "Other" : "Digital Keyboard-1");
                }
                break;
            case 7:
                core.OnSongSelChangeCore();
                break;
            default: {
                CheckedLock lock(core.Session().PlayLock());
                if (core.Session().CurrentPerformance()) {
                    (void)core.Session().CurrentPerformance()->SongTime();
                }
                break;
            }
        }
        ++commands;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    }
    stop = true;
    keyboard.join();
    core.ShutDown();
    EXPECT_GT(commands, 100);
    EXPECT_EQ(service.OpenOutputCount(), 0);
    EXPECT_EQ(service.OpenInputCount(), 0);
}

}  // namespace
