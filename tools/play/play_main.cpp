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
#include "midi/system_midi.h"
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
    void Store(PlaySession& session, bool flush) {
#ifdef PV_WITH_HISTORY
        if (m_db) {
            RecordFinishedRuns(session.Practice(), *m_db, flush);
            if (flush) {
                // Runs a busy or full history could not take yet get a last chance.
                m_db->Settle(kCloseWaitMs);
            }
            Report();
        }
#else
        (void)session;
        (void)flush;
#endif
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
    start.speedPercent = SpeedPercentTable[ClampSpeedPosition(options.speedPosition)];
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
        session.StartClockThread();
        if (!session.Start(start)) {
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
        while (!g_interrupted.load() && !session.WaitUntilStopped(kLookAgain)) {
            checkDevices();
            recorder.Store(session, false);
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
