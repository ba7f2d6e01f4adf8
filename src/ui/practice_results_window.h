#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/passage.h"
#include "engine/take.h"
#include "history/practice_recording.h"
#include "history/practice_store_thread.h"
#include "history/stored_run.h"

class CPelorvaneCore;
class CPracticeHistoryView;
class QChartView;
class QLabel;
class QPushButton;
class QSocketNotifier;
class QVBoxLayout;
namespace smf {
class MeterMap;
}

// The "練習結果" window: how the last run went, the bars that held the player back (each with a
// button that loops it), and the song's runs, listed and charted. It stands beside the main window
// and never blocks it; it collects the finished runs from the core and has them stored in the
// history of the core's working folder on a thread of their own, showing each once it is stored.
class CPracticeResultsWindow : public QWidget {
    Q_OBJECT

  public:
    CPracticeResultsWindow(CPelorvaneCore& core, QWidget* beside);
    ~CPracticeResultsWindow() override;

    // Collects what has finished and hands it over to be stored; a scored run is shown once
    // stored. flush (at shut-down): also the run playing, without waiting for late presses,
    // and returns only when everything is stored; nothing is shown any more.
    void CollectRuns(bool flush = false);
    // Keeps collecting, every little while, as long as play goes on or a run is still to come;
    // then the collector rests until this is called again.
    void CollectWhileRunsPending(bool playing);
    // Shows the run's figures at once (or that nothing was played, and so nothing kept), and its
    // song's history once read.
    void ShowRun(const RecordedRun& recorded, std::shared_ptr<const smf::MeterMap> meter);
    // Shows a song's history (from the main window's context menu) once read. The figures of
    // the last run stay when it was of this song.
    void ShowHistory(const QString& songPath);

    // For tests: whether runs are being collected, and what the window shows.
    bool Collecting() const { return m_collectTimer.isActive(); }
    QString SummaryText() const;
    QString TitleText() const;
    CPracticeHistoryView* History() const { return m_history; }
    const std::vector<QPushButton*>& BarButtons() const { return m_barButtons; }
    // The hard bars' buttons that train the loop around each bar faster and faster.
    const std::vector<QPushButton*>& TrainerButtons() const { return m_trainerButtons; }
    // だんだん速くの設定..., shown with the trainer's buttons.
    QPushButton* TrainerSettingsButton() const { return m_trainerSettings; }
    // Told of every scored run as it is collected (also one in which nothing was played), before
    // it is stored: the tempo trainer decides the next pass from it.
    std::function<void(const PracticeRun&, const PracticeSummary&)> m_onScored;
    // The tempo trainer's passes and the speed reached, under the figures; empty hides it.
    void ShowTrainer(const QString& text);
    QString TrainerText() const;
    QChartView* Chart() const;
    QPushButton* ExportButton() const { return m_exportTake; }
    // 聴く: enabled once the chosen run's take has been read.
    QPushButton* ReplayButton() const { return m_replayTake; }
    QString TakeNoteText() const;
    // Asks where the chosen run's take is to be saved (empty: not at all); a file dialog
    // unless a test puts its own answer in.
    using SavePathChooser = std::function<QString(const QString& suggested)>;
    void SetSavePathChooser(SavePathChooser chooser) { m_chooseSavePath = std::move(chooser); }
    // Returns once every run handed over is stored and read back.
    void FinishStoring() { m_store.Finish(); }
    // How often finished runs are looked for besides when one ends, for tests.
    void SetCollectInterval(int ms) { m_collectTimer.setInterval(ms); }

  signals:
    // Something the user must be told once (the history file put aside).
    void Message(const QString& text);
    // Runs the history could not take by the close: told even as the window closes.
    void SaveFailure(const QString& text);
    // A hard bar's button: the loop around that bar, for the main window to set and show.
    void LoopRequested(LoopSpan loop);
    // A hard bar's だんだん速く button: the loop around that bar, trained in the run's mode.
    void TrainerRequested(LoopSpan loop, int mode);
    // The trainer's plan is to be set.
    void TrainerSettingsRequested();
    // A run of the song was chosen in the list: its take once read (null: none, or none that
    // can be read), for the falling-notes view to draw over the song.
    // parts: what the run practised, none when not known.
    void TakeChosen(const QString& songPath, std::shared_ptr<const Take> take,
                    std::optional<PracticeChoice> parts);
    // 聴く: the chosen run's take, to be replayed over its song.
    void ReplayRequested(const StoredRun& run, std::shared_ptr<const Take> take);

  private:
    void ShowFigures(const RecordedRun& recorded,
                     const std::shared_ptr<const smf::MeterMap>& meter);
    void ShowBeside();
    // Reads the song's runs on the store's thread, then draws them.
    void RequestChart(const QString& songPath);
    void UpdateChart(const std::vector<StoredRun>& runs);
    // The song as the song list names it.
    QString SongTitle(const QString& songPath) const;
    void ClearFigures();
    void ReportDatabase(const QString& message);
    // MIDIファイルに保存: the song with the chosen run's take, written on the history's thread.
    void ExportChosenTake();
    // Reads the chosen run's take on the history's thread, then hands it on (TakeChosen).
    void ShowChosenTake();

    CPelorvaneCore& m_core;
    QWidget* m_beside;
    QTimer m_collectTimer;
    // Wakes when a run ends: it is collected as soon as it can be scored, and the tempo
    // trainer's next pass starts without waiting for the next look.
    QSocketNotifier* m_runEnded = nullptr;
    void OnRunEnded();
    QLabel* m_title = nullptr;
    QLabel* m_summary = nullptr;
    QVBoxLayout* m_barBox = nullptr;
    std::vector<QPushButton*> m_barButtons;
    std::vector<QPushButton*> m_trainerButtons;
    QPushButton* m_trainerSettings = nullptr;
    QLabel* m_trainerLine = nullptr;
    CPracticeHistoryView* m_history = nullptr;
    QPushButton* m_exportTake = nullptr;
    QPushButton* m_replayTake = nullptr;
    // The chosen run and its take once read (null: none yet, or none that can be read).
    StoredRun m_chosenRun;
    std::shared_ptr<const Take> m_chosenTake;
    // 聴く only for a take that has been read; the tooltip says why not.
    void EnableReplay(bool on, const char* why);
    QLabel* m_takeNote = nullptr;  // says when the chosen run's take cannot be read
    uint64_t m_takeRequests = 0;   // the latest choice's, so that an older answer is dropped
    SavePathChooser m_chooseSavePath;
    QString m_figuresSong;  // the song whose run's figures stand, empty for none
    bool m_openedAhead = false;
    bool m_closing = false;
    // Last: it ends first, storing what is still pending, while the window is whole.
    PracticeStoreThread m_store;
};
