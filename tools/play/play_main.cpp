// pelorvane-play: lists the MIDI devices, or plays one MIDI file through the same core as the
// window, opening the devices by name the way the window does.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "engine/window_core.h"
#include "midi/settings_file.h"
#include "midi/system_midi.h"
#include "play_options.h"
#include "play_passage.h"
#include "smf/meter_map.h"
#include "song/song_entry.h"
#include "song/song_list.h"

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted.store(true);
}

// The window's questions, answered from the command line: one song, always selected.
class PlayCore : public CPelorvaneCore {
  public:
    PlayCore(MidiService& service, const std::string& dataDir, int speedPosition)
        : CPelorvaneCore(service, dataDir), m_speedPosition(speedPosition) {}
    ~PlayCore() override { ShutDown(); }

    int SelectedSongRow() override { return m_songList.m_entries.empty() ? -1 : 0; }
    int SpeedSliderPosition() override { return m_speedPosition; }
    void LightModeLed(int) override {}
    void ShowMessage(const std::string& text) override { std::cerr << text << std::endl; }

  private:
    int m_speedPosition;
};

int ListDevices() {
    auto service = CreateSystemMidiService();
    for (const std::string& name : service->InputNames()) {
        std::cout << "in " << name << '\n';
    }
    for (const std::string& name : service->OutputNames()) {
        std::cout << "out " << name << '\n';
    }
    return 0;
}

// The core keeps its files in a folder of its own, so the tool never touches the user's
// settings or song list.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelorvane-play-XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            m_path = pattern;
        }
    }
    ~TemporaryFolder() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

int Play(const PlayOptions& options) {
    TemporaryFolder folder;
    if (folder.Path().empty()) {
        std::cerr << "pelorvane-play: cannot create a temporary folder" << std::endl;
        return 1;
    }
    std::string inName = options.inName.value_or("Digital Keyboard-1");
    std::string outName = options.outName.value_or(kBuiltInSynthName);
    if (!SaveSettingsFile(folder.Path() + "/" + kSettingsFileName, inName, outName)) {
        std::cerr << "pelorvane-play: cannot write into " << folder.Path() << std::endl;
        return 1;
    }

    auto service = CreateSystemMidiService();
    int exitCode = 0;
    {
        PlayCore core(*service, folder.Path(), options.speedPosition);
        int result = AddSong(core.m_songList, options.file);
        if (result != SONG_OK) {
            ShowLoadError(core, options.file, result);
            return 1;
        }
        SongEntry& entry = core.m_songList.m_entries[0];
        for (int channel = 0; channel < 16; ++channel) {
            entry.m_channels[channel].m_practice = options.practice[channel] ? 1 : 0;
        }
        std::string error;
        const std::optional<PassagePlan> plan =
            PlanPassage(options, smf::MeterMap(*entry.m_midiData), error);
        if (!plan) {
            std::cerr << "pelorvane-play: " << error << std::endl;
            return 2;
        }
        core.SetLoop(plan->loop, plan->passes);
        core.SeekTo(plan->startMs);
        core.OpenMidiDevices();
        core.StartClockThread();
        core.StartPlay(options.mode);
        if (core.m_playState == Stopped) {
            std::cerr << "pelorvane-play: nothing to play" << std::endl;
            exitCode = 1;
        }
        while (core.m_playState != Stopped && !g_interrupted.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            core.CheckDevices();
        }
        core.CheckDevices();  // a device lost on the last tick
        if (g_interrupted.load()) {
            core.StopPlay();
            exitCode = 130;
        } else {
            // Let the last notes ring out before the device closes.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        core.ShutDown();
    }
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    std::optional<PlayOptions> options = ParsePlayOptions(argc, argv, error);
    if (!options) {
        std::cerr << "pelorvane-play: " << error << "\n" << kPlayUsage;
        return 2;
    }
    if (options->list) {
        return ListDevices();
    }
    struct sigaction action = {};
    action.sa_handler = &OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return Play(*options);
}
