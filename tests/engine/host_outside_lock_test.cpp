// The window is asked its questions and shown the core's messages with the play lock free: a
// message box waits for the learner, and meanwhile the clock must go on ticking.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine_test_support.h"
#include "midi/device_opening.h"
#include "platform/clock.h"
#include "song/song_entry.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kKeyboard = "Digital Keyboard-1";

// Whether a thread other than the caller could take the lock now.
template <class Mutex>
bool FreeForAnotherThread(Mutex& mutex) {
    return std::async(std::launch::async,
                      [&mutex] {
                          if (!mutex.try_lock()) {
                              return false;
                          }
                          mutex.unlock();
                          return true;
                      })
        .get();
}

// A window that notes every question or message that came with the play lock held, and every
// message during which the clock thread could not tick.
class WatchingCore : public TestCore {
  public:
    using TestCore::TestCore;

    int SelectedSongRow() override {
        Check("SelectedSongRow");
        return FakeHost::SelectedSongRow();
    }
    int SpeedSliderPosition() override {
        Check("SpeedSliderPosition");
        return FakeHost::SpeedSliderPosition();
    }
    void LightModeLed(int index) override {
        Check("LightModeLed");
        FakeHost::LightModeLed(index);
    }
    void ShowMessage(const std::string& text) override {
        Check(text);
        if (!ClockTicksMeanwhile()) {
            m_stalled.push_back(text);
        }
        FakeHost::ShowMessage(text);
    }

    std::vector<std::string> m_underLock;
    std::vector<std::string> m_stalled;

  private:
    void Check(const std::string& what) {
        if (!FreeForAnotherThread(Session().PlayLock())) {
            m_underLock.push_back(what);
        }
    }
    // A tick publishes the song clock with its clock value.
    bool ClockTicksMeanwhile() {
        ManualClock::Advance(1);
        const uint32_t now = ManualClock::Get();
        Session().WakeClockThread();
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (ReadSongClock().clockMs != now) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }
};

class RecordingSink : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
    std::vector<std::string> m_messages;
};

TEST(HostOutsideLockTest, EveryQuestionAndMessageComesWithTheLockFreeAndTheClockTicking) {
    ManualClock::Install();
    ManualClock::Set(1000);
    InMemoryMidiService service{{kKeyboard}, {kKeyboard, "Synth"}};
    TempDir dir;
    RecordingSink expected;
    {
        WatchingCore core(service, dir.Path());
        core.StartClockThread();

        // Start-up with the output taken by another program.
        service.FailOpenOutput(MIDI_ALLOCATED);
        core.OpenMidiDevices();
        expected.ShowMessage("MIDI出力デバイスは他のプログラムにより使用中です。");
        service.FailOpenOutput(0);
        EXPECT_TRUE(core.ApplyDeviceNames(kKeyboard, "Synth"));

        // A song played, switched, sped up and ticked.
        core.AddLoadedSong(SmfWriter().Note(0, 0, 60, 100).Note(400, 1, 64, 100).Load(), 1);
        EXPECT_TRUE(core.OnSongSelChangeCore());
        core.StartPlay(PlayMode::ModelPerformance);
        core.StartPlay(PlayMode::Solo);
        core.m_slider = 4;
        core.ApplySpeedFromSlider();
        core.OnTrackCheckChangeCore({{0, true}, {1, true}});
        EXPECT_EQ(core.m_leds, (std::vector<int>{0, 3}));

        // Settings OK while it plays, with the input taken by another program.
        service.FailOpenInput(MIDI_ALLOCATED);
        EXPECT_TRUE(core.ApplyDeviceNames(kKeyboard, kKeyboard));
        expected.ShowMessage("MIDI入力デバイスは他のプログラムにより使用中です。");
        service.FailOpenInput(0);
        EXPECT_EQ(core.CurrentPlayState(), Stopped);

        // A song whose file has gone is selected while one plays.
        EXPECT_TRUE(core.ApplyDeviceNames(kKeyboard, "Synth"));
        core.StartPlay(PlayMode::MyPaceLesson);
        SongEntry gone;
        gone.m_path = dir.Path() + "/gone.mid";
        core.Songs().m_entries.push_back(gone);
        core.m_selectedRow = 1;
        EXPECT_FALSE(core.OnSongSelChangeCore());
        ShowLoadError(expected, gone.m_path, SONG_FILE_NOT_FOUND);
        EXPECT_EQ(core.CurrentPlayState(), Stopped);

        // The keyboard is unplugged during a lesson.
        core.m_selectedRow = 0;
        EXPECT_TRUE(core.OnSongSelChangeCore());
        core.StartPlay(PlayMode::MyPaceLesson);
        service.UnplugInput(0);
        core.CheckDevices();
        expected.ShowMessage(kInputLostText);

        core.ShutDown();
        EXPECT_EQ(core.m_messages, expected.m_messages);
        EXPECT_EQ(core.m_underLock, std::vector<std::string>{});
        EXPECT_EQ(core.m_stalled, std::vector<std::string>{});
    }
    ManualClock::Uninstall();
}

}  // namespace
