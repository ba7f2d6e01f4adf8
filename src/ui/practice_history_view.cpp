#include "ui/practice_history_view.h"

#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QResizeEvent>
#include <QScatterSeries>
#include <QStackedWidget>
#include <QTableWidget>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "ui/practice_texts.h"

namespace {

// The two value axes share their grid: five steps of 20% accuracy and of 25% tempo.
constexpr int kGridSteps = 5;
constexpr int kAccuracyStep = 20;
constexpr int kTempoStep = 25;
constexpr int kMostRunTicks = 10;
const QSize kListMinimum(200, 120);
const QSize kChartMinimum(200, 240);
// Side by side from this width on: each as wide as it is usable.
constexpr int kSideBySide = 620;

enum Column { kNumber, kDate, kMode, kSpeed, kBars, kAccuracy, kTiming, kColumns };

// 1, 2, 5, 10, 20, 50 ...: the smallest such step that labels at most kMostRunTicks runs.
int RunStep(int runs) {
    int step = 1;
    for (int scale = 1;; scale *= 10) {
        for (const int m : {1, 2, 5}) {
            step = m * scale;
            if (runs / step < kMostRunTicks) {
                return step;
            }
        }
    }
}

bool Scored(const StoredRun& r) {
    return r.mode == QLatin1String("lesson") || r.mode == QLatin1String("accompaniment");
}

// A run of one hand is marked over both lines, so that a learner who alternates hands sees each
// hand's progress; runs of both hands keep the plain points.
struct HandMark {
    const char* hand;
    const char* name;
    QScatterSeries::MarkerShape shape;
    QRgb colour;
};
const HandMark kHandMarks[] = {
    {"right", "右手", QScatterSeries::MarkerShapeTriangle, qRgb(0xd9, 0x48, 0x0f)},
    {"left", "左手", QScatterSeries::MarkerShapeRectangle, qRgb(0x70, 0x48, 0xe8)},
};
constexpr qreal kHandMarkSize = 11.0;

QString TimingCell(const StoredRun& r) {
    if (r.mode == QLatin1String("accompaniment")) {
        return r.hit > 0 ? TimingText(r.timingP50) : QString::fromUtf8("—");
    }
    if (r.mode == QLatin1String("lesson")) {
        return QString::fromUtf8("待ち %1 ms").arg(r.timingP50);
    }
    return QString::fromUtf8("—");
}

}  // namespace

CPracticeHistoryView::CPracticeHistoryView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages);

    auto* filled = new QWidget(m_pages);
    m_sides = new QBoxLayout(QBoxLayout::TopToBottom, filled);
    auto* side = m_sides;
    side->setContentsMargins(0, 0, 0, 0);
    m_list = new QTableWidget(0, kColumns, filled);
    m_list->setObjectName(QStringLiteral("runs"));
    m_list->setHorizontalHeaderLabels({QString::fromUtf8("回"), QString::fromUtf8("日時"),
                                       QString::fromUtf8("モード"), QString::fromUtf8("速度"),
                                       QString::fromUtf8("小節"), QString::fromUtf8("正確さ"),
                                       QString::fromUtf8("タイミング")});
    m_list->verticalHeader()->hide();
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->setMinimumSize(kListMinimum);
    side->addWidget(m_list, 1);

    auto* chart = new QChart;
    chart->setTitle(QString::fromUtf8("正確さとテンポの推移"));
    chart->legend()->setAlignment(Qt::AlignBottom);
    // The legend names both axes; their own titles would leave the plot too little room.
    chart->setMargins(QMargins(4, 4, 4, 4));
    m_chart = new QChartView(chart, filled);
    m_chart->setRenderHint(QPainter::Antialiasing);
    m_chart->setMinimumSize(kChartMinimum);
    side->addWidget(m_chart, 1);
    m_pages->addWidget(filled);

    m_empty = new QLabel(QString::fromUtf8("この曲の練習の記録はまだありません。"), m_pages);
    m_empty->setObjectName(QStringLiteral("noRuns"));
    m_empty->setAlignment(Qt::AlignCenter);
    m_pages->addWidget(m_empty);
    SetRuns({});
}

void CPracticeHistoryView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Side by side where both fit, else the chart under the list: the window beside the main
    // window may have only a narrow strip of the screen.
    const bool roomy = width() >= kSideBySide;
    m_sides->setDirection(roomy ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
}

QSize CPracticeHistoryView::minimumSizeHint() const {
    const int spacing = std::max(0, m_sides->spacing());
    return QSize(std::max(kListMinimum.width(), kChartMinimum.width()),
                 kListMinimum.height() + spacing + kChartMinimum.height());
}

bool CPracticeHistoryView::ShowsEmptyText() const {
    return m_pages->currentWidget() == m_empty;
}

void CPracticeHistoryView::SetRuns(const std::vector<StoredRun>& all) {
    std::vector<StoredRun> runs;
    std::copy_if(all.begin(), all.end(), std::back_inserter(runs),
                 [](const StoredRun& r) { return AnythingPlayed(r); });
    UpdateChart(runs);
    UpdateList(runs);
    m_pages->setCurrentWidget(runs.empty() ? static_cast<QWidget*>(m_empty) : m_pages->widget(0));
}

void CPracticeHistoryView::UpdateList(const std::vector<StoredRun>& runs) {
    m_list->setRowCount(static_cast<int>(runs.size()));
    const int count = static_cast<int>(runs.size());
    for (int i = 0; i < count; ++i) {
        // The newest on top, numbered as the chart counts them.
        const StoredRun& r = runs[static_cast<size_t>(count - 1 - i)];
        const QString cells[kColumns] = {
            QString::number(count - i),
            r.started.toLocalTime().toString(QStringLiteral("M/d H:mm")),
            ModeTitle(r.mode, r.hand),
            SpeedText(r.speed),
            r.firstBar == r.lastBar ? QString::number(r.firstBar)
                                    : QString::fromUtf8("%1〜%2").arg(r.firstBar).arg(r.lastBar),
            Scored(r) ? QString::number(std::lround(r.accuracy * 100.0)) + QStringLiteral("%")
                      : QString::fromUtf8("—"),
            TimingCell(r),
        };
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c != kMode && c != kDate && c != kTiming) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            m_list->setItem(i, c, item);
        }
    }
}

void CPracticeHistoryView::UpdateChart(const std::vector<StoredRun>& runs) {
    QChart* chart = m_chart->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    auto* accuracy = new QLineSeries;
    accuracy->setName(QString::fromUtf8("正確さ (%)"));
    auto* tempo = new QLineSeries;
    tempo->setName(QString::fromUtf8("テンポ (曲の %)"));
    int fastest = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        // Only scored runs have an accuracy; every run shows the tempo it was played at.
        const qreal x = static_cast<qreal>(i + 1);
        if (Scored(runs[i])) {
            accuracy->append(x, runs[i].accuracy * 100.0);
        }
        tempo->append(x, runs[i].speed);
        fastest = std::max(fastest, runs[i].speed);
    }
    chart->addSeries(accuracy);
    chart->addSeries(tempo);

    const int count = std::max<int>(1, static_cast<int>(runs.size()));
    auto* order = new QValueAxis;
    order->setTitleText(QString::fromUtf8("回"));
    order->setRange(0.5, count + 0.5);
    order->setLabelFormat(QStringLiteral("%d"));
    order->setTickType(QValueAxis::TicksDynamic);
    order->setTickAnchor(1);
    order->setTickInterval(RunStep(count));
    order->setMinorTickCount(0);

    auto* percent = new QValueAxis;
    percent->setRange(0, kGridSteps * kAccuracyStep);
    percent->setTickCount(kGridSteps + 1);
    percent->setLabelFormat(QStringLiteral("%d%%"));

    // A tempo beyond the grid (a speed given to pelorvane-play) widens its axis alone.
    const int tempoSteps = std::max(kGridSteps, (fastest + kTempoStep - 1) / kTempoStep);
    auto* speed = new QValueAxis;
    speed->setRange(0, tempoSteps * kTempoStep);
    speed->setTickCount(tempoSteps + 1);
    speed->setLabelFormat(QStringLiteral("%d%%"));
    speed->setGridLineVisible(false);

    chart->addAxis(order, Qt::AlignBottom);
    chart->addAxis(percent, Qt::AlignLeft);
    chart->addAxis(speed, Qt::AlignRight);
    accuracy->attachAxis(order);
    accuracy->attachAxis(percent);
    tempo->attachAxis(order);
    tempo->attachAxis(speed);
    for (QLineSeries* series : {accuracy, tempo}) {
        series->setPointsVisible(true);
    }
    AddHandMarks(runs, *accuracy, *tempo);
}

void CPracticeHistoryView::AddHandMarks(const std::vector<StoredRun>& runs, QLineSeries& accuracy,
                                        QLineSeries& tempo) {
    QChart* chart = m_chart->chart();
    for (const HandMark& mark : kHandMarks) {
        // The accuracy marks carry the legend entry; the tempo marks repeat them unnamed.
        auto* onAccuracy = new QScatterSeries;
        auto* onTempo = new QScatterSeries;
        onAccuracy->setName(QString::fromUtf8(mark.name));
        for (size_t i = 0; i < runs.size(); ++i) {
            if (runs[i].hand != QLatin1String(mark.hand)) {
                continue;
            }
            const qreal x = static_cast<qreal>(i + 1);
            if (Scored(runs[i])) {
                onAccuracy->append(x, runs[i].accuracy * 100.0);
            }
            onTempo->append(x, runs[i].speed);
        }
        if (onTempo->count() == 0) {
            // Never practised with this hand: the chart stays as it always was.
            delete onAccuracy;
            delete onTempo;
            continue;
        }
        for (QScatterSeries* series : {onAccuracy, onTempo}) {
            series->setMarkerShape(mark.shape);
            series->setMarkerSize(kHandMarkSize);
            series->setColor(QColor(mark.colour));
            series->setBorderColor(QColor(mark.colour).darker(130));
            chart->addSeries(series);
        }
        for (QAbstractAxis* axis : accuracy.attachedAxes()) {
            onAccuracy->attachAxis(axis);
        }
        for (QAbstractAxis* axis : tempo.attachedAxes()) {
            onTempo->attachAxis(axis);
        }
        for (QLegendMarker* marker : chart->legend()->markers(onTempo)) {
            marker->setVisible(false);
        }
    }
}
