#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <filesystem>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine_test_support.h"
#include "midi/device_opening.h"
#include "midi/settings_file.h"
#include "platform/clock.h"

namespace {

constexpr const char* kKeyboard = "Digital Keyboard-1";

class CoreTest : public CoreFixture {
  protected:
    void SetUp() override {
        CoreFixture::SetUp();
        service.ClearSent();
    }
    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> sent = service.SentShort();
        service.ClearSent();
        return sent;
    }
    void Tick(uint32_t ms = 1) { AdvanceAndTick(ms); }
};

// Channel 0 is the practice channel; channels 0-3 play, so channel 0 plays on channel 15.
SmfWriter FourChannelSong() {
    SmfWriter w;
    for (int ch = 0; ch < 4; ++ch) {
        w.Note(0, ch, 60 + ch, 100);
    }
    w.Note(500, 1, 70, 100);
    return w;
}

std::vector<uint32_t> Volumes(int spare, std::initializer_list<int> silenced = {}) {
    std::vector<uint32_t> v;
    for (int ch = 0; ch < 16; ++ch) {
        if (spare != 0 && ch == spare) {
            continue;
        }
        const bool off = std::find(silenced.begin(), silenced.end(), ch) != silenced.end();
        v.push_back(Msg(0xB0 + (ch == 0 ? spare : ch), 7, off ? 0 : 100));
    }
    return v;
}

std::vector<uint32_t> AllSoundOff() {
    std::vector<uint32_t> v;
    for (int c = 0; c < 16; ++c) {
        v.push_back(Msg(0xB0 + c, 0x78, 0));
    }
    return v;
}

TEST_F(CoreTest, StartFromStoppedSendsTheResetsThenPlaysChannelOneOnTheSpare) {
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_EQ(core->CurrentPlayState(), Starting);
    EXPECT_EQ(core->m_leds, (std::vector<int>{0}));
    EXPECT_EQ(Sent(), Concat({SilenceAll(), Volumes(15), AllKeysDark(), {Msg(0xB0, 7, 0)}}));

    Tick();  // starts: no song time yet
    EXPECT_EQ(core->CurrentPlayState(), Playing);
    {
        CheckedLock lock(core->Session().PlayLock());
        EXPECT_EQ(core->Session().PlayStartTime(), 1001u);
    }
    EXPECT_TRUE(Sent().empty());
    Tick();
    EXPECT_EQ(Sent(),
              (std::vector<uint32_t>{Msg(0x9F, 60, 100), Msg(0x91, 61, 100), Msg(0x92, 62, 100),
                                     Msg(0x93, 63, 100), Msg(0x90, 60, 127)}));

    core->StopPlay();
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    EXPECT_EQ(Sent(), Concat({AllKeysDark(), AllSoundOff()}));
    Tick();  // a stopped performance still has its lights kept up to date
    EXPECT_EQ(Sent(), (std::vector<uint32_t>{Msg(0x90, 60, 0)}));
}

TEST_F(CoreTest, ModeSwitchDuringPlayChangesVolumesWithoutRestarting) {
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    Tick();
    Tick(50);
    Performance* p = PerformanceOf(*core);
    const uint32_t songTime = p->SongTime();
    Sent();

    core->StartPlay(PlayMode::Accompaniment);
    EXPECT_EQ(Sent(), Volumes(15, {0}));
    core->StartPlay(PlayMode::Solo);
    EXPECT_EQ(Sent(), Volumes(15, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(core->m_leds, (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(PerformanceOf(*core), p);
    EXPECT_EQ(core->CurrentPlayState(), Playing);
    Tick();
    EXPECT_GT(p->SongTime(), songTime);
}

TEST_F(CoreTest, SongWithoutSpareChannelSendsNoLighting) {
    SmfWriter w;
    for (int ch = 0; ch < 16; ++ch) {
        w.Note(0, ch, 40 + ch, 100);
    }
    core->AddLoadedSong(w.Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_EQ(Sent(), Concat({SilenceAll(), Volumes(0), AllKeysDark()}));
    Tick();
    Tick();
    const std::vector<uint32_t> sent = Sent();
    ASSERT_EQ(sent.size(), 16u);
    EXPECT_EQ(sent[0], Msg(0x90, 40, 100));  // the song's own channel 0
    EXPECT_EQ(PerformanceOf(*core)->GetKeyLights().Key(40).shown, 1);
    core->StopPlay();
    EXPECT_EQ(Sent(), Concat({AllKeysDark(), AllSoundOff()}));
}

TEST_F(CoreTest, NaturalEndStopsInTheSameTickAndRestartRebuilds) {
    SmfWriter w;
    w.Note(0, 0, 60, 0).Note(0, 1, 50, 0);
    core->AddLoadedSong(w.Load(), 1);
    core->StartPlay(PlayMode::Solo);
    Performance* first = PerformanceOf(*core);
    Tick();
    Sent();
    Tick();
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    // The chord lit and went dark within the advance, so the lights show nothing.
    EXPECT_EQ(Sent(), (std::vector<uint32_t>{Msg(0x9F, 60, 100), Msg(0x8F, 60, 64),
                                             Msg(0x91, 50, 100), Msg(0x81, 50, 64)}));
    first->SetSpeedPercent(77);  // untouched by a rewind: tells a rebuilt performance apart
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_EQ(PerformanceOf(*core)->GetPlayer().SpeedPercent(), 100);
    EXPECT_EQ(core->CurrentPlayState(), Starting);
    EXPECT_EQ(PerformanceOf(*core)->GetPlayer().Cursor(), 0u);
}

TEST_F(CoreTest, NothingHappensWithoutALoadedSelectedSong) {
    core->StartPlay(PlayMode::MyPaceLesson);
    SongEntry unloaded;
    unloaded.m_path = "/nowhere/missing.mid";
    core->Songs().m_entries.push_back(unloaded);
    core->m_selectedRow = 0;
    core->StartPlay(PlayMode::MyPaceLesson);
    EXPECT_EQ(PerformanceOf(*core), nullptr);
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    EXPECT_TRUE(core->m_leds.empty());
    EXPECT_TRUE(Sent().empty());

    EXPECT_FALSE(core->OnSongSelChangeCore());
    ASSERT_EQ(core->m_messages.size(), 1u);
}

// Ticks for a song that could not be loaded come from rows of another song: they must not reach
// its practice channels, which are saved at exit.
TEST_F(CoreTest, TicksDoNotReachASelectedSongThatFailedToLoad) {
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    SongEntry unloaded;
    unloaded.m_path = "/nowhere/missing.mid";
    unloaded.m_channels[0].m_practice = 1;
    core->Songs().m_entries.push_back(unloaded);
    core->m_selectedRow = 1;
    EXPECT_FALSE(core->OnSongSelChangeCore());
    core->OnTrackCheckChangeCore({{0, true}, {1, true}, {2, true}, {9, true}});
    uint32_t mask = 0;
    for (int ch = 0; ch < 16; ++ch) {
        mask |= uint32_t{core->Songs().m_entries[1].m_channels[ch].m_practice} << ch;
    }
    EXPECT_EQ(mask, 0x0001u);
    EXPECT_EQ(core->Songs().m_entries[0].m_channels[1].m_practice, 0);
}

TEST_F(CoreTest, PlayerKeysArriveOnMidiChannelOneOnly) {
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    service.InjectInput(Msg(0x90, 60, 100));  // no performance yet: ignored
    service.WaitForInputIdle();
    core->StartPlay(PlayMode::MyPaceLesson);
    Performance* p = PerformanceOf(*core);
    EXPECT_FALSE(p->KeyDown(60));

    service.InjectInput(Msg(0x91, 61, 100));  // channel 2
    service.InjectInput(Msg(0x90, 62, 100));
    service.InjectInput(Msg(0x90, 63, 100));
    service.InjectInput(Msg(0x80, 63, 0));
    service.InjectInput(Msg(0x90, 64, 90));
    service.InjectInput(Msg(0x90, 64, 0));
    service.WaitForInputIdle();
    EXPECT_FALSE(p->KeyDown(61));
    EXPECT_TRUE(p->KeyDown(62));
    EXPECT_FALSE(p->KeyDown(63));
    EXPECT_FALSE(p->KeyDown(64));

    // A new performance starts with every key up.
    core->StopPlay();
    core->StartPlay(PlayMode::MyPaceLesson);
    EXPECT_FALSE(PerformanceOf(*core)->KeyDown(62));
}

TEST_F(CoreTest, TrackTicksReachTheEntryAndTheRunningPerformance) {
    core->OnTrackCheckChangeCore({{0, true}});  // no song selected: nothing
    const int row = core->AddLoadedSong(FourChannelSong().Load(), 1);
    core->StartPlay(PlayMode::Accompaniment);
    Tick();
    Tick();
    Sent();
    core->OnTrackCheckChangeCore({{0, false}, {1, true}, {2, false}, {3, true}});
    const SongEntry& entry = core->Songs().m_entries[static_cast<size_t>(row)];
    EXPECT_EQ(entry.m_channels[0].m_practice, 0);
    EXPECT_EQ(entry.m_channels[1].m_practice, 1);
    EXPECT_EQ(entry.m_channels[3].m_practice, 1);
    EXPECT_EQ(PerformanceOf(*core)->GetPlayer().PracticeMask(), 0b1010u);
    // The volumes follow the new ticks (one full pass per changed channel).
    EXPECT_EQ(Sent(), Concat({Volumes(15), Volumes(15, {1}), Volumes(15, {1, 3})}));
    Performance* p = PerformanceOf(*core);
    ASSERT_EQ(p->GetLesson().PendingChord().count, 1);
    EXPECT_EQ(p->GetTimeline().Events()[p->GetLesson().PendingChord().index[0]].data1,
              70);  // the next chord on channel 1

    core->m_slider = 0;
    core->ApplySpeedFromSlider();
    EXPECT_EQ(p->GetPlayer().SpeedPercent(), 50);
    EXPECT_TRUE(p->GetPlayer().SpeedChanged());
}

TEST_F(CoreTest, NoteActivityMarksTheChannelsRow) {
    std::array<int, 16> rows;
    rows.fill(-1);
    rows[0] = 0;
    rows[1] = 1;
    core->Session().SetChannelRows(rows);
    core->Activity().m_now = 777;
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    core->StartPlay(PlayMode::Accompaniment);
    Tick();
    Tick();
    EXPECT_EQ(core->Activity().m_noteColor[0].load(), 0xC0C0C0u);  // practice channel, silenced
    EXPECT_EQ(core->Activity().m_noteColor[1].load(), 0xFF0000u);
    EXPECT_EQ(core->Activity().m_lastNoteTime[0].load(), 777u);
    EXPECT_EQ(core->Activity().m_lastNoteTime[2].load(), 0u);
}

TEST_F(CoreTest, NewDeviceNamesReopenAndDiscardThePerformance) {
    service.SetOutputNames({kKeyboard, "Synth"});
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_FALSE(core->ApplyDeviceNames("digital keyboard-1", "DIGITAL KEYBOARD-1"));
    EXPECT_NE(PerformanceOf(*core), nullptr);
    EXPECT_EQ(core->OutDeviceName(), kKeyboard);

    service.ClearOperations();
    EXPECT_TRUE(core->ApplyDeviceNames(kKeyboard, "Synth"));
    EXPECT_EQ(PerformanceOf(*core), nullptr);
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    EXPECT_EQ(service.Operations(),
              (std::vector<std::string>{"close-in 0", "close-out 0", "open-out 1", "open-in 0",
                                        "start-in 0"}));
    service.InjectInput(Msg(0x90, 60, 100));  // reaches no performance
    service.WaitForInputIdle();
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_EQ(PerformanceOf(*core)->Output(), OutputOf(*core));
}

TEST_F(CoreTest, ShutDownStopsTheSoundBeforeClosingAndSavesBothFiles) {
    ManualClock::Uninstall();
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    core->StartClockThread();
    core->StartPlay(PlayMode::ModelPerformance);
    service.ClearOperations();
    core->ShutDown();
    const std::vector<uint32_t> sent = Sent();
    const std::vector<uint32_t> stop = Concat({AllKeysDark(), AllSoundOff()});
    EXPECT_NE(std::search(sent.begin(), sent.end(), stop.begin(), stop.end()), sent.end());
    EXPECT_EQ(service.Operations(), (std::vector<std::string>{"close-in 0", "close-out 0"}));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/songlist.txt"));
    core->ShutDown();  // a second call does nothing
    core.reset();
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/setting.txt"));
}

// The keyboard is unplugged in the middle of a song: play stops on the tick that finds it gone,
// nothing more is tried on it (no debug line per event either), and the learner hears of it
// once. A later start on the same handle ends the same way, with one message again.
TEST_F(CoreTest, AnOutputLostWhilePlayingStopsPlayWithOneMessage) {
    SmfWriter w;
    for (int i = 0; i < 50; ++i) {
        w.Note(i * 20, 1, 60 + i % 12, 100, 10);
    }
    core->AddLoadedSong(w.Load(), 1);
    core->StartPlay(PlayMode::ModelPerformance);
    Tick(100);
    ASSERT_EQ(core->CurrentPlayState(), Playing);
    core->CheckDevices();
    EXPECT_TRUE(core->m_messages.empty());

    DebugCapture debug;
    service.ClearSent();
    service.UnplugOutput(0);
    Tick(50);
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    for (int i = 0; i < 20; ++i) {
        Tick(20);
    }
    EXPECT_EQ(service.SendsToGoneOutputs(), 0);
    EXPECT_TRUE(service.Sent().empty());
    EXPECT_TRUE(debug.Lines().empty());
    core->CheckDevices();
    core->CheckDevices();
    EXPECT_EQ(core->m_messages, std::vector<std::string>{kOutputLostText});

    core->StartPlay(PlayMode::ModelPerformance);
    Tick(5);
    Tick(5);
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    core->CheckDevices();
    EXPECT_EQ(core->m_messages.size(), 2u);
    EXPECT_EQ(service.SendsToGoneOutputs(), 0);

    // Plugged in again and chosen again under the same name: opened anew, and it plays.
    service.ClearOperations();
    EXPECT_TRUE(core->ApplyDeviceNames(kKeyboard, kKeyboard));
    EXPECT_EQ(service.Operations(),
              (std::vector<std::string>{"close-in 0", "close-out 0", "open-out 0", "open-in 0",
                                        "start-in 0"}));
    core->StartPlay(PlayMode::ModelPerformance);
    Tick(5);
    Tick(5);
    EXPECT_EQ(core->CurrentPlayState(), Playing);
    EXPECT_FALSE(service.Sent().empty());
}

// A lost input stops only what listens to the learner; it is closed and told once, and every
// later start plays (the lesson then on the screen keyboard) until settings open it again.
TEST_F(CoreTest, AnInputLostStopsOnlyWhatNeedsItAndIsToldOnce) {
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    core->StartPlay(PlayMode::MyPaceLesson);
    Tick();
    ASSERT_EQ(core->CurrentPlayState(), Playing);
    service.ClearSent();
    service.UnplugInput(0);
    core->CheckDevices();
    EXPECT_EQ(core->CurrentPlayState(), Stopped);
    EXPECT_EQ(core->m_messages, std::vector<std::string>{kInputLostText});
    // The output is still there and hears the stop.
    const std::vector<uint32_t> sent = Sent();
    const std::vector<uint32_t> stop = AllSoundOff();
    EXPECT_NE(std::search(sent.begin(), sent.end(), stop.begin(), stop.end()), sent.end());
    EXPECT_EQ(service.OpenInputCount(), 0);

    for (PlayMode mode : {PlayMode::ModelPerformance, PlayMode::MyPaceLesson,
                          PlayMode::Accompaniment, PlayMode::Solo}) {
        core->StartPlay(mode);
        Tick();
        core->CheckDevices();
        EXPECT_EQ(core->CurrentPlayState(), Playing) << static_cast<int>(mode);
        core->StopPlay();
    }
    EXPECT_EQ(core->m_messages.size(), 1u);

    // Settings OK under the same name opens it again; then a loss during the model performance
    // is told without a stop, and the song plays on.
    EXPECT_TRUE(core->ApplyDeviceNames(kKeyboard, kKeyboard));
    EXPECT_EQ(service.OpenInputCount(), 1);
    core->m_messages.clear();
    core->StartPlay(PlayMode::ModelPerformance);
    Tick();
    service.UnplugInput(0);
    core->CheckDevices();
    core->CheckDevices();
    Tick(100);
    EXPECT_EQ(core->CurrentPlayState(), Playing);
    EXPECT_EQ(core->m_messages, std::vector<std::string>{kInputLostNothingStoppedText});
}

// A full disk or a read-only folder: here a folder stands where each file would go, which
// refuses the write whoever runs the test. Each failure is told once, in the window's language,
// and what was to be saved stays in memory for a later write.
TEST_F(CoreTest, FailedSavesAreToldOnceAndALaterSaveSucceeds) {
    namespace fs = std::filesystem;
    const std::string list = dir.Path() + "/songlist.txt";
    const std::string settings = dir.Path() + "/setting.txt";
    fs::create_directory(list);
    fs::create_directory(settings);
    core->SetDeviceNames(core->InDeviceName(), "Synth");
    core->ShutDown();
    ASSERT_EQ(core->m_messages.size(), 2u);
    EXPECT_EQ(core->m_messages[0], SaveFailureText(list));
    EXPECT_EQ(core->m_messages[1], SaveFailureText(settings));
    EXPECT_NE(core->m_messages[0].find("保存できませんでした"), std::string::npos);

    EXPECT_FALSE(core->SaveSettings());
    EXPECT_EQ(core->m_messages.size(), 2u);  // told already

    fs::remove(settings);
    EXPECT_TRUE(core->SaveSettings());
    EXPECT_EQ(core->m_messages.size(), 2u);
    core.reset();
    std::string inName = "x", outName = "x";
    LoadSettingsFile(settings, inName, outName);
    EXPECT_EQ(outName, "Synth");
    EXPECT_TRUE(fs::is_directory(list));
}

// A core that goes without having been shut down still saves, and its host, which outlives it,
// hears of what could not be written, once per file.
TEST_F(CoreTest, ACoreDestroyedWithoutShutDownTellsItsHostOfAFailedSave) {
    namespace fs = std::filesystem;
    core.reset();
    const std::string settings = dir.Path() + "/setting.txt";
    fs::remove(settings);
    fs::create_directory(settings);
    FakeHost host;
    auto alone = std::make_unique<CPelorvaneCore>(service, host, dir.Path());
    alone->SetDeviceNames(kKeyboard, "Synth");
    alone.reset();
    EXPECT_EQ(host.m_messages, std::vector<std::string>{SaveFailureText(settings)});
    EXPECT_TRUE(fs::exists(dir.Path() + "/songlist.txt"));
}

// A system out of threads (or of memory for a thread's stack): the program goes on without a
// clock. Nothing plays, one debug line says why, and shutting down still saves both files.
TEST_F(CoreTest, WithoutAClockThreadNothingPlaysAndTheProgramGoesOn) {
    core->AddLoadedSong(FourChannelSong().Load(), 1);
    pthread_attr_t normal;
    ASSERT_EQ(pthread_getattr_default_np(&normal), 0);
    pthread_attr_t unaffordable;
    ASSERT_EQ(pthread_attr_init(&unaffordable), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&unaffordable, size_t{1} << 46), 0);  // 64 TiB
    ASSERT_EQ(pthread_setattr_default_np(&unaffordable), 0);
    DebugCapture debug;
    EXPECT_NO_THROW(core->StartClockThread());
    ASSERT_EQ(pthread_setattr_default_np(&normal), 0);
    pthread_attr_destroy(&unaffordable);
    pthread_attr_destroy(&normal);
    const std::vector<std::string> lines = debug.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("The playback clock thread cannot be created (", 0), 0u) << lines[0];

    core->StartPlay(PlayMode::ModelPerformance);  // waits for a clock that never comes
    core->ShutDown();
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/songlist.txt"));
    core.reset();
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/setting.txt"));
}

}  // namespace
