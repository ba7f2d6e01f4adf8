// The play session on its own, as pelorvane-play drives it: no window, no host and no files;
// what it is told comes in its commands and what it has to tell comes back as values.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "engine/performance.h"
#include "engine/play_session.h"
#include "midi/device_opening.h"
#include "midi/memory_midi.h"
#include "midi_file_writer/smf_writer.h"
#include "platform/clock.h"

namespace {

using namespace std::chrono_literals;

TEST(PlaySessionTest, PlaysWhatItsCommandsCarryAndWakesWhoeverWaitsForTheEnd) {
    ManualClock::Install();
    ManualClock::Set(1000);
    InMemoryMidiService service{{}, {"Synth"}};
    {
        PlaySession session(service);
        const DeviceOpening opened = session.OpenDevices("Digital Keyboard-1", "Synth");
        EXPECT_EQ(opened.outName, "Synth");
        EXPECT_EQ(opened.messages, std::vector<std::string>{kNoInputText});

        EXPECT_FALSE(session.Start(StartCommand{}));  // no song
        EXPECT_EQ(session.CurrentPlayState(), Stopped);

        StartCommand start;
        start.mode = PlayMode::Solo;
        start.speedPercent = 50;
        start.parts.SetChannel(1, true);
        start.song = SmfWriter().Note(0, 0, 60, 100).Note(480, 1, 64, 100).Load();
        start.path = "/songs/two.mid";
        ASSERT_TRUE(session.Start(start));
        {
            CheckedLock lock(session.PlayLock());
            const Performance* p = session.CurrentPerformance();
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->GetPlayer().SpeedPercent(), 50);
            EXPECT_EQ(p->GetPlayer().PracticeMask(), 1u << 1);
        }
        EXPECT_FALSE(session.WaitUntilStopped(0ms));

        // The song is ticked to its end on another thread while this one waits for it.
        std::atomic<bool> waiting{false};
        auto ticker = std::async(std::launch::async, [&] {
            while (!waiting.load()) {
            }
            for (int i = 0; i < 10000 && session.CurrentPlayState() != Stopped; ++i) {
                ManualClock::Advance(1);
                session.OnClockTick();
            }
        });
        const auto before = std::chrono::steady_clock::now();
        waiting = true;
        EXPECT_TRUE(session.WaitUntilStopped(20s));
        // Only the end's own notice wakes the wait this early.
        EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
        ticker.get();
        EXPECT_EQ(session.CurrentPlayState(), Stopped);
    }
    ManualClock::Uninstall();
}

// The clock thread of a stopped session with nothing lit takes no turns of its own: an idle
// program must not wake every few milliseconds. A command still wakes it at once. The quiet
// stretch is watched on the real clock, as the thread's own timeouts would run on it.
TEST(PlaySessionTest, AStoppedClockRestsUntilACommandWakesIt) {
    InMemoryMidiService service{{}, {"Synth"}};
    PlaySession session(service);
    session.OpenDevices("", "Synth");
    session.StartClockThread();
    const auto waitFor = [](auto done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            std::this_thread::yield();
        }
        return done();
    };
    ASSERT_TRUE(waitFor([&] { return session.ClockRests() && session.ClockWakeups() > 0; }, 10s));
    // The first tick may still be on its way into the wait.
    const uint64_t resting = session.ClockWakeups();
    EXPECT_FALSE(waitFor([&] { return session.ClockWakeups() > resting; }, 300ms))
        << "a resting clock woke by itself";
    session.SetMetronome(true);
    EXPECT_TRUE(waitFor([&] { return session.ClockWakeups() > resting; }, 10s));
    session.EndClockThread();
}

}  // namespace
