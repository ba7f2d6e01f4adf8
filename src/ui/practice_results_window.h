#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "history/practice_database.h"
#include "history/practice_recording.h"

class CPelorvaneCore;
class QChartView;
class QLabel;
class QPushButton;
class QVBoxLayout;
namespace smf {
class MeterMap;
}

// The "練習結果" window: how the last run went, the bars that held the player back (each with a
// button that loops it), and the song's progress by date. It stands beside the main window and
// never blocks it; it collects the finished runs from the core and stores them in the history
// of the core's working folder.
class CPracticeResultsWindow : public QWidget {
    Q_OBJECT

  public:
    CPracticeResultsWindow(CPelorvaneCore& core, QWidget* beside);
    ~CPracticeResultsWindow() override;

    // Collects and stores what has finished; a scored run is shown. flush: also the run
    // playing, without waiting for late presses (at shut-down).
    void CollectRuns(bool flush = false);
    // Shows the run's figures and its song's history.
    void ShowRun(const RecordedRun& recorded, std::shared_ptr<const smf::MeterMap> meter);
    // Shows a song's history (from the main window's context menu).
    void ShowHistory(const QString& songPath);

    // For tests: what the window shows.
    QString SummaryText() const;
    const std::vector<QPushButton*>& BarButtons() const { return m_barButtons; }
    QChartView* Chart() const { return m_chart; }
    PracticeDatabase& Database() { return m_db; }

  signals:
    // Something the user must be told once (the history file put aside).
    void Message(const QString& text);

  private:
    void ShowBeside();
    void UpdateChart(const QString& songPath);
    void ReportDatabase();

    CPelorvaneCore& m_core;
    QWidget* m_beside;
    PracticeDatabase m_db;
    QTimer m_collectTimer;
    QLabel* m_title = nullptr;
    QLabel* m_summary = nullptr;
    QVBoxLayout* m_barBox = nullptr;
    std::vector<QPushButton*> m_barButtons;
    QChartView* m_chart = nullptr;
};
