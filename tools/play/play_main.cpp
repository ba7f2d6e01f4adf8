// pelorvane-play: lists the MIDI devices, or plays one MIDI file through the same play session as
// the window, opening the devices by name the way the window does.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "engine/play_session.h"
#include "engine/practice_run.h"
#include "engine/trainer_session.h"
#include "midi/system_midi.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
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
// How long the wait for the end goes before the devices, the records and an interrupt are looked
// at again.
constexpr std::chrono::milliseconds kLookAgain{100};

void OnInterrupt(int) {
    g_interrupted.store(true);
}

// Messages go to standard error, one line each.
class ErrorStream : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override { std::cerr << text << std::endl; }
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
    std::vector<std::pair<PracticeRun, PracticeSummary>> Store(PlaySession& session, bool flush) {
        std::vector<std::pair<PracticeRun, PracticeSummary>> scored;
#ifdef PV_WITH_HISTORY
        if (m_db) {
            for (RecordedRun& r : RecordFinishedRuns(session.Practice(), *m_db, flush)) {
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
        for (PracticeRun& run : session.Practice().Collect(NowMs(), flush)) {
            if (const auto meter = session.Practice().MeterOf(run.song)) {
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
        const bool wasActive = trainer.Active();
        const std::optional<TempoTrainer::Outcome> outcome = trainer.OnRunScored(run, summary);
        if (!outcome) {
            if (wasActive && !trainer.Active()) {
                std::cout << "training ended: a pass was stopped or had nothing played"
                          << std::endl;
            }
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
    ErrorStream errors;
    SongList songs;
    const int result = AddSong(songs, options.file);
    if (result != SONG_OK) {
        ShowLoadError(errors, options.file, result);
        return 1;
    }
    const SongEntry& entry = songs.m_entries[0];
    std::string error;
    const std::shared_ptr<const PreparedSong> prepared =
        PreparedSong::Prepare(entry.m_midiData, options.splitKey);
    const std::optional<PassagePlan> plan = PlanPassage(options, *prepared->Meter(), error);
    if (!plan) {
        std::cerr << "pelorvane-play: " << error << std::endl;
        return 2;
    }
    StartCommand start;
    start.mode = options.mode;
    start.speedPercent =
        options.exactSpeed.value_or(SpeedPercentTable[ClampSpeedPosition(options.speedPosition)]);
    for (int channel = 0; channel < 16; ++channel) {
        start.parts.SetChannel(channel, options.practice[channel]);
    }
    start.parts.hand = options.hand;
    start.song = entry.m_midiData;
    start.prepared = prepared;
    start.path = entry.m_path;

    auto service = CreateSystemMidiService();
    int exitCode = 0;
    {
        PlaySession session(*service);
        Recorder recorder(options.record);
        session.SetLoop(plan->loop, plan->passes);
        session.SeekTo(plan->startMs);
        const DeviceOpening opened =
            session.OpenDevices(options.inName.value_or("Digital Keyboard-1"),
                                options.outName.value_or(kBuiltInSynthName));
        for (const std::string& text : opened.messages) {
            errors.ShowMessage(text);
        }
        session.SetMetronome(options.metronome);
        session.SetCountInBars(options.countInBars);
        session.StartClockThread();
        TrainerSession trainer(session, [&session, start](PlayMode mode, int speedPercent) {
            StartCommand pass = start;
            pass.mode = mode;
            pass.speedPercent = speedPercent;
            return session.Start(pass);
        });
        const bool started = options.trainer && plan->loop
                                 ? trainer.Start(*options.trainer, *plan->loop, options.mode)
                                 : session.Start(start);
        if (!started) {
            std::cerr << "pelorvane-play: nothing to play" << std::endl;
            exitCode = 1;
        }
        // The end wakes the wait at once; between, the devices are looked at (a keyboard pulled
        // out stops a lesson that waits for it), the runs stored and an interrupt noticed.
        bool outputLostTold = false;
        auto checkDevices = [&] {
            const DeviceLoss loss = session.CheckDevices();
            if (loss == DeviceLoss::None || (loss != DeviceLoss::Output && outputLostTold)) {
                return;
            }
            outputLostTold = outputLostTold || loss == DeviceLoss::Output;
            errors.ShowMessage(DeviceLossText(loss));
        };
        // Between two passes of the trainer nothing plays until the last one is scored.
        while (!g_interrupted.load()) {
            const bool stopped = session.WaitUntilStopped(kLookAgain);
            checkDevices();
            TellTrainer(trainer, recorder.Store(session, false));
            if (stopped && !trainer.Active()) {
                break;
            }
            if (stopped && session.CurrentPlayState() == Stopped) {
                std::this_thread::sleep_for(kLookAgain);
            }
        }
        checkDevices();  // a device lost on the last tick
        if (g_interrupted.load()) {
            session.Stop();
            exitCode = 130;
        } else {
            // Let the last notes ring out before the device closes.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        session.EndClockThread();
        session.CloseDevices();
        recorder.Store(session, true);
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
