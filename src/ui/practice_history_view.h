#pragma once

#include <QWidget>
#include <vector>

#include "history/stored_run.h"

class QBoxLayout;
class QChartView;
class QLabel;
class QLineSeries;
class QStackedWidget;
class QTableWidget;

// A song's practice history: each run in a list, newest first, beside (or over) a chart of the runs
// in the order they were played (accuracy and tempo, one point per run). Runs in which nothing was
// played are left out; without any run a short text says so.
class CPracticeHistoryView : public QWidget {
    Q_OBJECT

  public:
    explicit CPracticeHistoryView(QWidget* parent);

    // The song's runs, oldest first, as the history returns them.
    void SetRuns(const std::vector<StoredRun>& runs);

    QChartView* Chart() const { return m_chart; }
    QTableWidget* List() const { return m_list; }
    // True when the "no runs yet" text stands instead of the list and the chart.
    bool ShowsEmptyText() const;
    // As narrow as the list over the chart: the side by side comes only with room for it.
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void UpdateChart(const std::vector<StoredRun>& runs);
    void UpdateList(const std::vector<StoredRun>& runs);
    // Marks each run of one hand over the two lines, a shape and colour per hand in the legend.
    void AddHandMarks(const std::vector<StoredRun>& runs, QLineSeries& accuracy,
                      QLineSeries& tempo);

    QStackedWidget* m_pages = nullptr;
    QBoxLayout* m_sides = nullptr;  // the list and the chart
    QLabel* m_empty = nullptr;
    QTableWidget* m_list = nullptr;
    QChartView* m_chart = nullptr;
};
