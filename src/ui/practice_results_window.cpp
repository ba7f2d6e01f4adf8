#include "ui/practice_results_window.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QValueAxis>

#include "engine/window_core.h"
#include "smf/meter_map.h"

namespace {

constexpr int kCollectMs = 200;  // finished runs reach the window this often
constexpr int kGap = 8;          // px between the main window and this one

QString Percent(double fraction) {
    return QString::number(fraction * 100.0, 'f', 0) + QStringLiteral("%");
}

}  // namespace

CPracticeResultsWindow::CPracticeResultsWindow(CPelorvaneCore& core, QWidget* beside)
    : QWidget(nullptr, Qt::Window),
      m_core(core),
      m_beside(beside),
      m_db(QString::fromStdString(core.DataDir().empty() ? std::string(".") : core.DataDir())) {
    setWindowTitle(QString::fromUtf8("練習結果"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_title);
    layout->addWidget(m_summary);
    m_barBox = new QVBoxLayout;
    layout->addLayout(m_barBox);

    auto* chart = new QChart;
    chart->setTitle(QString::fromUtf8("正確さとテンポの推移"));
    chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart = new QChartView(chart, this);
    m_chart->setRenderHint(QPainter::Antialiasing);
    m_chart->setMinimumSize(420, 260);
    layout->addWidget(m_chart, 1);

    m_collectTimer.setInterval(kCollectMs);
    connect(&m_collectTimer, &QTimer::timeout, this, [this] { CollectRuns(false); });
    m_collectTimer.start();
}

CPracticeResultsWindow::~CPracticeResultsWindow() = default;

void CPracticeResultsWindow::ReportDatabase() {
    const QString message = m_db.TakeMessage();
    if (!message.isEmpty()) {
        emit Message(message);
    }
}

void CPracticeResultsWindow::CollectRuns(bool flush) {
    // The file is opened (and made, the first time) while the first run plays, not when it
    // ends: storing the run then takes only its own transaction.
    if (m_core.CurrentPlayState() != Stopped) {
        m_db.Open();
        ReportDatabase();
    }
    std::vector<RecordedRun> runs = RecordFinishedRuns(m_core.Practice(), m_db, flush);
    ReportDatabase();
    // The last scored run is the one the player wants to see; unscored runs are only stored.
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        if (it->summary.scored && !flush) {
            ShowRun(*it, m_core.Practice().MeterOf(it->run.song));
            break;
        }
    }
}

void CPracticeResultsWindow::ShowRun(const RecordedRun& r,
                                     std::shared_ptr<const smf::MeterMap> meter) {
    const PracticeSummary& s = r.summary;
    const QString song = QString::fromStdString(r.run.songPath);
    m_title->setText(QString::fromUtf8("<b>%1</b>　%2 小節〜%3 小節")
                         .arg(QFileInfo(song).fileName().toHtmlEscaped())
                         .arg(s.firstBar)
                         .arg(s.lastBar));
    QString text;
    if (r.run.mode == PlayMode::Accompaniment) {
        text = QString::fromUtf8(
                   "正確さ: %1（%2 音中 %3 音、ミス %4、余分 %5）\n"
                   "タイミング: 中央値 %6 ms、ばらつき %7 ms")
                   .arg(Percent(s.accuracy))
                   .arg(s.notes)
                   .arg(s.hit)
                   .arg(s.missed)
                   .arg(s.extra)
                   .arg(s.timingP50)
                   .arg(s.timingSpread);
    } else {
        text = QString::fromUtf8(
                   "正確さ: %1（%2 和音、押し間違い %3）\n"
                   "待ち時間: 中央値 %4 ms、ばらつき %5 ms")
                   .arg(Percent(s.accuracy))
                   .arg(s.chords)
                   .arg(s.wrong)
                   .arg(s.timingP50)
                   .arg(s.timingSpread);
    }
    m_summary->setText(text);

    for (QPushButton* b : m_barButtons) {
        delete b;
    }
    m_barButtons.clear();
    if (meter) {
        for (const uint32_t bar : r.hardestBars) {
            auto* button = new QPushButton(QString::fromUtf8("第%1小節を練習する").arg(bar), this);
            const LoopSpan loop = LoopAroundBar(*meter, bar);
            connect(button, &QPushButton::clicked, this, [this, loop] {
                m_core.SetLoop(loop);
                if (m_core.CurrentPlayState() == Stopped) {
                    m_core.SeekTo(loop.a);
                }
            });
            m_barBox->addWidget(button);
            m_barButtons.push_back(button);
        }
    }
    UpdateChart(song);
    ShowBeside();
}

void CPracticeResultsWindow::ShowHistory(const QString& songPath) {
    m_title->setText(
        QString::fromUtf8("<b>%1</b>").arg(QFileInfo(songPath).fileName().toHtmlEscaped()));
    m_summary->setText(QString());
    for (QPushButton* b : m_barButtons) {
        delete b;
    }
    m_barButtons.clear();
    UpdateChart(songPath);
    ShowBeside();
}

void CPracticeResultsWindow::UpdateChart(const QString& songPath) {
    QChart* chart = m_chart->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    const std::vector<StoredRun> runs = m_db.RunsOf(songPath);
    ReportDatabase();
    auto* accuracy = new QLineSeries;
    accuracy->setName(QString::fromUtf8("正確さ (%)"));
    auto* tempo = new QLineSeries;
    tempo->setName(QString::fromUtf8("テンポ (%)"));
    QDateTime first, last;
    for (const StoredRun& r : runs) {
        // Only scored runs have an accuracy; every run shows the tempo it was played at.
        const qreal x = static_cast<qreal>(r.started.toMSecsSinceEpoch());
        if (r.mode == QLatin1String("lesson") || r.mode == QLatin1String("accompaniment")) {
            accuracy->append(x, r.accuracy * 100.0);
        }
        tempo->append(x, r.speed);
        first = first.isValid() ? std::min(first, r.started) : r.started;
        last = last.isValid() ? std::max(last, r.started) : r.started;
    }
    chart->addSeries(accuracy);
    chart->addSeries(tempo);
    auto* dates = new QDateTimeAxis;
    dates->setFormat(QStringLiteral("M/d"));
    if (first.isValid()) {
        dates->setRange(first.addSecs(-3600), last.addSecs(3600));
    }
    auto* values = new QValueAxis;
    values->setRange(0, 130);
    values->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(dates, Qt::AlignBottom);
    chart->addAxis(values, Qt::AlignLeft);
    for (QLineSeries* series : {accuracy, tempo}) {
        series->setPointsVisible(true);
        series->attachAxis(dates);
        series->attachAxis(values);
    }
}

void CPracticeResultsWindow::ShowBeside() {
    if (!isVisible() && m_beside) {
        const QRect main = m_beside->frameGeometry();
        QPoint at(main.right() + kGap, main.top());
        if (const QScreen* screen = m_beside->screen()) {
            const QRect area = screen->availableGeometry();
            if (at.x() + width() > area.right()) {
                at.setX(std::max(area.left(), main.left() - width() - kGap));
            }
        }
        move(at);
    }
    show();
}

QString CPracticeResultsWindow::SummaryText() const {
    return m_summary->text();
}
