// pelorvane-play: lists the MIDI devices, or plays one MIDI file through the same core as the
// window, opening the devices by name the way the window does.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "engine/practice_run.h"
#include "engine/trainer_session.h"
#include "engine/window_core.h"
#include "midi/settings_file.h"
#include "midi/system_midi.h"
#include "platform/clock.h"
#include "play_options.h"
#include "play_passage.h"
#include "smf/meter_map.h"
#ifdef PV_WITH_HISTORY
#include <QCoreApplication>

#include "history/practice_database.h"
#include "history/practice_folder.h"
#include "history/practice_recording.h"
#endif
#include "song/song_entry.h"
#include "song/song_list.h"

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted.store(true);
}

// The window's questions, answered from the command line: the one song is selected once it is
// in the list, and messages go to standard error.
class CommandLineHost : public CoreHost {
  public:
    explicit CommandLineHost(int speedPosition) : m_speedPosition(speedPosition) {}

    int SelectedSongRow() override { return m_selectedRow; }
    int SpeedSliderPosition() override { return m_speedPosition; }
    void LightModeLed(int) override {}
    void ShowMessage(const std::string& text) override { std::cerr << text << std::endl; }

    int m_selectedRow = -1;

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

// Stores the runs finished so far in the history the window keeps, when asked to: here on the
// main thread, off the clock and input threads.
class Recorder {
  public:
    explicit Recorder(bool on) {
#ifdef PV_WITH_HISTORY
        if (on) {
            m_db = std::make_unique<PracticeDatabase>(PracticeFolder());
            m_db->Open();
            Report();
        }
#else
        (void)on;
#endif
    }
    // The runs finished by now, scored; stored too when recording.
    std::vector<std::pair<PracticeRun, PracticeSummary>> Store(CPelorvaneCore& core, bool flush) {
        std::vector<std::pair<PracticeRun, PracticeSummary>> scored;
#ifdef PV_WITH_HISTORY
        if (m_db) {
            for (RecordedRun& r : RecordFinishedRuns(core.Practice(), *m_db, flush)) {
                scored.emplace_back(std::move(r.run), r.summary);
            }
            if (flush) {
                // Runs a busy or full history could not take yet get a last chance.
                m_db->Settle(kCloseWaitMs);
            }
            Report();
            return scored;
        }
#endif
        for (PracticeRun& run : core.Practice().Collect(NowMs(), flush)) {
            const auto meter = core.Practice().MeterOf(run.song);
            if (meter) {
                PracticeSummary summary = Summarize(run, *meter);
                scored.emplace_back(std::move(run), summary);
            }
        }
        return scored;
    }

  private:
#ifdef PV_WITH_HISTORY
    static constexpr int kCloseWaitMs = 10000;
    void Report() {
        const QString message = m_db->TakeMessage();
        if (!message.isEmpty()) {
            std::cerr << "pelorvane-play: " << message.toStdString() << std::endl;
        }
    }
    std::unique_ptr<PracticeDatabase> m_db;
#endif
};

// Each pass the trainer scored, on standard output, and the end of the training.
void TellTrainer(TrainerSession& trainer,
                 const std::vector<std::pair<PracticeRun, PracticeSummary>>& runs) {
    for (const auto& [run, summary] : runs) {
        const std::optional<TempoTrainer::Outcome> outcome = trainer.OnRunScored(run, summary);
        if (!outcome) {
            continue;
        }
        std::cout << "pass " << trainer.Trainer()->Passes().size() << ": speed " << run.speedPercent
                  << "%, accuracy " << static_cast<int>(summary.accuracy * 100.0 + 0.5) << "%";
        if (*outcome == TempoTrainer::Outcome::Reached) {
            std::cout << "; goal of " << run.speedPercent << "% reached";
        } else {
            std::cout << "; next pass at " << trainer.Trainer()->Speed() << "%";
        }
        std::cout << std::endl;
    }
}

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
        CommandLineHost host(options.speedPosition);
        CPelorvaneCore core(*service, host, folder.Path());
        int result = AddSong(core.Songs(), options.file);
        if (result != SONG_OK) {
            ShowLoadError(host, options.file, result);
            return 1;
        }
        host.m_selectedRow = 0;
        SongEntry& entry = core.Songs().m_entries[0];
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
        Recorder recorder(options.record);
        core.SetLoop(plan->loop, plan->passes);
        core.SeekTo(plan->startMs);
        core.OpenMidiDevices();
        core.StartClockThread();
        core.SetMetronome(options.metronome);
        core.SetCountInBars(options.countInBars);
        if (options.exactSpeed) {
            core.SetSpeedPercent(*options.exactSpeed);
        }
        TrainerSession trainer(core);
        if (options.trainer && plan->loop) {
            trainer.Start(*options.trainer, *plan->loop, options.mode);
        } else {
            core.StartPlay(options.mode);
        }
        if (core.CurrentPlayState() == Stopped) {
            std::cerr << "pelorvane-play: nothing to play" << std::endl;
            exitCode = 1;
        }
        // Between two passes of the trainer nothing plays until the last one is scored.
        for (int slept = 0;
             (core.CurrentPlayState() != Stopped || trainer.Active()) && !g_interrupted.load();
             ++slept) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            core.CheckDevices();
            if (slept % 10 == 0 || (trainer.Active() && core.CurrentPlayState() == Stopped)) {
                TellTrainer(trainer, recorder.Store(core, false));
            }
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
        recorder.Store(core, true);
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
#ifdef PV_WITH_HISTORY
    // The history's database driver is a Qt plugin, which wants an application object.
    std::unique_ptr<QCoreApplication> app;
    if (options->record) {
        app = std::make_unique<QCoreApplication>(argc, argv);
        // The history knows songs by full path, as the window's song list does.
        options->file = std::filesystem::absolute(options->file).string();
    }
#else
    if (options->record) {
        std::cerr << "pelorvane-play: built without the practice history; --record is not available"
                  << std::endl;
        return 2;
    }
#endif
    struct sigaction action = {};
    action.sa_handler = &OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return Play(*options);
}
