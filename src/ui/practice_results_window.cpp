#include "ui/practice_results_window.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QVBoxLayout>

#include "engine/practice_scorer.h"
#include "engine/publish_notice.h"
#include "engine/take_file.h"
#include "engine/window_core.h"
#include "history/practice_database.h"
#include "history/take_export_file.h"
#include "smf/meter_map.h"
#include "song/song_entry.h"
#include "ui/practice_history_view.h"
#include "ui/practice_texts.h"

namespace {

constexpr int kCollectMs = 200;  // finished runs reach the window this often
constexpr int kGap = 8;          // px between the main window and this one

// How long the close waits for a busy or full history to take the last runs.
constexpr int kCloseWaitMs = 10000;

QString DataFolder(const CPelorvaneCore& core) {
    return QString::fromStdString(core.DataDir().empty() ? std::string(".") : core.DataDir());
}

QString Percent(double fraction) {
    return QString::number(fraction * 100.0, 'f', 0) + QStringLiteral("%");
}

}  // namespace

CPracticeResultsWindow::CPracticeResultsWindow(CPelorvaneCore& core, QWidget* beside)
    : QWidget(nullptr, Qt::Window), m_core(core), m_beside(beside), m_store(DataFolder(core)) {
    setWindowTitle(QString::fromUtf8("練習結果"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Lines wrap rather than widen the window past the screen's edge.
    m_title->setWordWrap(true);
    m_summary->setWordWrap(true);
    layout->addWidget(m_title);
    layout->addWidget(m_summary);
    m_trainerLine = new QLabel(this);
    m_trainerLine->setObjectName(QStringLiteral("trainer"));
    m_trainerLine->setWordWrap(true);
    m_trainerLine->hide();
    layout->addWidget(m_trainerLine);
    m_barBox = new QVBoxLayout;
    layout->addLayout(m_barBox);
    m_trainerSettings = new QPushButton(QString::fromUtf8("だんだん速くの設定..."), this);
    m_trainerSettings->setObjectName(QStringLiteral("trainerSettings"));
    m_trainerSettings->setToolTip(
        QString::fromUtf8("始めの速さ、上げ幅、目標の速さと、速さを変える正確さを決めます。"));
    m_trainerSettings->hide();
    connect(m_trainerSettings, &QPushButton::clicked, this,
            &CPracticeResultsWindow::TrainerSettingsRequested);
    layout->addWidget(m_trainerSettings, 0, Qt::AlignLeft);

    m_history = new CPracticeHistoryView(this);
    layout->addWidget(m_history, 1);
    m_exportTake = new QPushButton(QString::fromUtf8("MIDIファイルに保存"), this);
    m_exportTake->setObjectName(QStringLiteral("exportTake"));
    m_exportTake->setEnabled(false);
    m_takeNote = new QLabel(this);
    m_takeNote->setObjectName(QStringLiteral("takeNote"));
    m_replayTake = new QPushButton(QString::fromUtf8("聴く"), this);
    m_replayTake->setObjectName(QStringLiteral("replayTake"));
    EnableReplay(false, "聴く回を一覧から選んでください。");
    auto* takeRow = new QHBoxLayout;
    takeRow->addWidget(m_takeNote, 1);
    takeRow->addWidget(m_replayTake);
    takeRow->addWidget(m_exportTake);
    layout->addLayout(takeRow);
    // Only a run whose take is kept has anything to save or draw.
    connect(m_history, &CPracticeHistoryView::ChosenRunChanged, this, [this] {
        const StoredRun* run = m_history->ChosenRun();
        m_exportTake->setEnabled(run && run->hasTake);
        ShowChosenTake();
    });
    connect(m_exportTake, &QPushButton::clicked, this, [this] { ExportChosenTake(); });
    connect(m_replayTake, &QPushButton::clicked, this, [this] {
        if (m_chosenTake) {
            emit ReplayRequested(m_chosenRun, m_chosenTake);
        }
    });
    m_chooseSavePath = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QString::fromUtf8("MIDIファイルに保存"),
                                            suggested, QString::fromUtf8("MIDIファイル (*.mid)"));
    };
    resize(760, 560);

    m_collectTimer.setInterval(kCollectMs);
    connect(&m_collectTimer, &QTimer::timeout, this, [this] {
        CollectRuns(false);
        if (m_core.CurrentPlayState() == Stopped && m_core.Practice().Settled()) {
            m_collectTimer.stop();
        }
    });
    m_collectTimer.start();
    PublishNotice& ended = m_core.Practice().Queue().RunEnded();
    if (ended.Descriptor() >= 0) {
        m_runEnded = new QSocketNotifier(ended.Descriptor(), QSocketNotifier::Read, this);
        connect(m_runEnded, &QSocketNotifier::activated, this, &CPracticeResultsWindow::OnRunEnded);
        ended.Arm();
    }
}

CPracticeResultsWindow::~CPracticeResultsWindow() {
    m_core.Practice().Queue().RunEnded().Disarm();
}

void CPracticeResultsWindow::OnRunEnded() {
    PublishNotice& ended = m_core.Practice().Queue().RunEnded();
    ended.Drain();
    ended.Arm();
    // Presses that come late still count for the run, so it is scored only once they could
    // have come.
    QTimer::singleShot(static_cast<int>(PracticeScorer::kMatchWindow) + 2, Qt::PreciseTimer, this,
                       [this] { CollectRuns(false); });
}

void CPracticeResultsWindow::ReportDatabase(const QString& message) {
    if (!message.isEmpty()) {
        emit Message(message);
    }
}

QString CPracticeResultsWindow::TakeNoteText() const {
    return m_takeNote->text();
}

void CPracticeResultsWindow::EnableReplay(bool on, const char* why) {
    m_replayTake->setEnabled(on);
    m_replayTake->setToolTip(QString::fromUtf8(why));
}

void CPracticeResultsWindow::ShowChosenTake() {
    const uint64_t request = ++m_takeRequests;
    m_takeNote->clear();
    m_chosenTake.reset();
    const StoredRun* chosen = m_history->ChosenRun();
    if (!chosen) {
        EnableReplay(false, "聴く回を一覧から選んでください。");
    } else if (!chosen->hasTake) {
        EnableReplay(false, "この回の演奏の記録がないため、聴けません。");
    } else {
        EnableReplay(false, "この回の演奏の記録を読んでいます。");
    }
    if (!chosen || !chosen->hasTake) {
        emit TakeChosen(chosen ? chosen->songPath : QString(), nullptr, std::nullopt);
        return;
    }
    m_chosenRun = *chosen;
    const StoredRun run = *chosen;
    m_store.Post([this, run, request](PracticeDatabase& db) {
        const std::optional<QByteArray> bytes = db.TakeOf(run.id);
        const QString message = db.TakeMessage();
        std::shared_ptr<const Take> take;
        if (bytes) {
            if (std::optional<Take> read =
                    TakeFromSmf(reinterpret_cast<const uint8_t*>(bytes->constData()),
                                static_cast<size_t>(bytes->size()))) {
                take = std::make_shared<const Take>(std::move(*read));
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, run, request, take, message, read = bytes.has_value()] {
                ReportDatabase(message);
                if (request != m_takeRequests || m_closing) {
                    return;  // another run has been chosen since
                }
                if (read && !take) {
                    m_takeNote->setText(
                        QString::fromUtf8("この回の演奏の記録は壊れているため読めません。"));
                    m_exportTake->setEnabled(false);
                }
                m_chosenTake = take;
                if (take) {
                    EnableReplay(true, "この回の演奏を曲に合わせて再生します。");
                } else {
                    EnableReplay(false, "この回の演奏の記録を読めないため、聴けません。");
                }
                emit TakeChosen(run.songPath, take, PartsOf(run));
            },
            Qt::QueuedConnection);
    });
}

void CPracticeResultsWindow::ExportChosenTake() {
    const StoredRun* chosen = m_history->ChosenRun();
    if (!chosen || !chosen->hasTake) {
        return;
    }
    const StoredRun run = *chosen;
    const QFileInfo song(run.songPath);
    const QString suggested = song.dir().filePath(
        QStringLiteral("%1-%2.mid")
            .arg(song.completeBaseName(),
                 run.started.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm"))));
    const QString path = m_chooseSavePath(suggested);
    if (path.isEmpty()) {
        return;
    }
    m_store.Post([this, run, path](PracticeDatabase& db) {
        const std::optional<QByteArray> take = db.TakeOf(run.id);
        QString message = db.TakeMessage();
        if (take) {
            ExportTake(run.songPath, *take, run.started, path, &message);
        } else if (message.isEmpty()) {
            message = QString::fromUtf8("この回の演奏の記録はもうありません。");
        }
        QMetaObject::invokeMethod(
            this, [this, message] { ReportDatabase(message); }, Qt::QueuedConnection);
    });
}

void CPracticeResultsWindow::CollectWhileRunsPending(bool playing) {
    if (!m_collectTimer.isActive() && !m_closing && (playing || !m_core.Practice().Settled())) {
        m_collectTimer.start();
    }
}

void CPracticeResultsWindow::CollectRuns(bool flush) {
    if (m_closing) {
        return;
    }
    // The file is opened (and made, the first time) while the first run plays, not when it
    // ends: storing the run then takes only its own transaction.
    if (!m_openedAhead && m_core.CurrentPlayState() != Stopped) {
        m_openedAhead = true;
        m_store.Post([this](PracticeDatabase& db) {
            db.Open();
            const QString message = db.TakeMessage();
            if (!message.isEmpty()) {
                QMetaObject::invokeMethod(
                    this, [this, message] { ReportDatabase(message); }, Qt::QueuedConnection);
            }
        });
    }
    std::vector<RecordedRun> runs = CollectFinishedRuns(m_core.Practice(), flush);
    // The last scored run is the one the player wants to see; unscored runs are only stored,
    // and a run in which nothing was played is not even stored: only said so.
    const RecordedRun* shown = nullptr;
    for (auto it = runs.rbegin(); it != runs.rend() && !flush; ++it) {
        if (it->summary.scored) {
            shown = &*it;
            break;
        }
    }
    for (RecordedRun& r : runs) {
        if (m_onScored && r.summary.scored && !flush) {
            m_onScored(r.run, r.summary);
        }
        const bool show = &r == shown;
        if (!r.played) {
            if (show) {
                ShowRun(r, m_core.Practice().MeterOf(r.run.song));
            }
            continue;
        }
        auto meter = show ? m_core.Practice().MeterOf(r.run.song) : nullptr;
        m_store.Post([this, r = std::move(r), show, meter](PracticeDatabase& db) mutable {
            r.saved = db.Store(r.stored);
            QString message = db.TakeMessage();
            std::vector<StoredRun> history;
            if (show) {
                history = db.RunsOf(r.stored.songPath);
                message += db.TakeMessage();
            }
            QMetaObject::invokeMethod(
                this,
                [this, r = std::move(r), show, meter = std::move(meter),
                 history = std::move(history), message] {
                    ReportDatabase(message);
                    if (show && !m_closing) {
                        ShowFigures(r, meter);
                        UpdateChart(history);
                        ShowBeside();
                    }
                },
                Qt::QueuedConnection);
        });
    }
    if (flush) {
        // Closing: every run is in the file before the window goes, or said to be lost.
        m_closing = true;
        QString unstored;
        m_store.Post([&unstored](PracticeDatabase& db) {
            db.Settle(kCloseWaitMs);
            unstored = db.TakeMessage();
        });
        m_store.Finish();
        if (!unstored.isEmpty()) {
            emit SaveFailure(unstored);
        }
    }
}

void CPracticeResultsWindow::ShowRun(const RecordedRun& r,
                                     std::shared_ptr<const smf::MeterMap> meter) {
    ShowFigures(r, meter);
    ShowBeside();
    RequestChart(QString::fromStdString(r.run.songPath));
}

void CPracticeResultsWindow::ShowFigures(const RecordedRun& r,
                                         const std::shared_ptr<const smf::MeterMap>& meter) {
    const PracticeSummary& s = r.summary;
    const QString song = QString::fromStdString(r.run.songPath);
    m_figuresSong = song;
    m_title->setText(QString::fromUtf8("<b>%1</b>　%2 小節〜%3 小節")
                         .arg(SongTitle(song).toHtmlEscaped())
                         .arg(s.firstBar)
                         .arg(s.lastBar) +
                     HandSuffix(QString::fromLatin1(HandName(r.run.hand))));
    QString text;
    if (!r.played) {
        text = QString::fromUtf8("弾いた音がなかったため、この演奏は記録しませんでした。");
    } else if (r.run.mode == PlayMode::Accompaniment) {
        text = QString::fromUtf8("正確さ: %1（%2 音中 %3 音、ミス %4、余分 %5）\n")
                   .arg(Percent(s.accuracy))
                   .arg(s.notes)
                   .arg(s.hit)
                   .arg(s.missed)
                   .arg(s.extra);
        // Without a note hit there is no timing to tell.
        text += s.hit > 0 ? QString::fromUtf8("タイミング: 中央値 %1、ばらつき %2 ms")
                                .arg(TimingText(s.timingP50))
                                .arg(s.timingSpread)
                          : QString::fromUtf8("タイミング: なし（合った音がありません）");
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
    for (QPushButton* b : m_trainerButtons) {
        delete b;
    }
    m_trainerButtons.clear();
    if (meter && r.played) {
        for (const uint32_t bar : r.hardestBars) {
            auto* button = new QPushButton(QString::fromUtf8("第%1小節を練習する").arg(bar), this);
            const LoopSpan loop = LoopAroundBar(*meter, bar);
            connect(button, &QPushButton::clicked, this,
                    [this, loop] { emit LoopRequested(loop); });
            m_barBox->addWidget(button);
            m_barButtons.push_back(button);
            auto* trainer =
                new QPushButton(QString::fromUtf8("第%1小節をだんだん速く").arg(bar), this);
            trainer->setToolTip(QString::fromUtf8(
                "うまく弾けるたびに少しずつ速くして、この小節をくり返し練習します。"));
            const int mode = static_cast<int>(r.run.mode);
            connect(trainer, &QPushButton::clicked, this,
                    [this, loop, mode] { emit TrainerRequested(loop, mode); });
            m_barBox->addWidget(trainer);
            m_trainerButtons.push_back(trainer);
        }
    }
    m_trainerSettings->setVisible(!m_trainerButtons.empty());
    // The bars' buttons are made after it, yet they are what Tab reaches first from the window.
    if (!m_trainerButtons.empty()) {
        setTabOrder(m_trainerButtons.back(), m_trainerSettings);
    }
}

void CPracticeResultsWindow::ClearFigures() {
    m_figuresSong.clear();
    m_summary->setText(QString());
    for (QPushButton* b : m_barButtons) {
        delete b;
    }
    m_barButtons.clear();
    for (QPushButton* b : m_trainerButtons) {
        delete b;
    }
    m_trainerButtons.clear();
    m_trainerSettings->hide();
}

QString CPracticeResultsWindow::SongTitle(const QString& songPath) const {
    const std::string path = songPath.toStdString();
    for (const SongEntry& entry : m_core.Songs().m_entries) {
        if (SamePath(entry.m_path, path)) {
            return QString::fromStdString(entry.m_title);
        }
    }
    return QFileInfo(songPath).fileName();
}

void CPracticeResultsWindow::ShowHistory(const QString& songPath) {
    if (m_figuresSong.isEmpty() || !SamePath(m_figuresSong.toStdString(), songPath.toStdString())) {
        // Another song's figures would read as this one's.
        ClearFigures();
        m_title->setText(QString::fromUtf8("<b>%1</b>").arg(SongTitle(songPath).toHtmlEscaped()));
    }
    ShowBeside();
    RequestChart(songPath);
}

void CPracticeResultsWindow::RequestChart(const QString& songPath) {
    m_store.Post([this, songPath](PracticeDatabase& db) {
        std::vector<StoredRun> runs = db.RunsOf(songPath);
        const QString message = db.TakeMessage();
        QMetaObject::invokeMethod(
            this,
            [this, runs = std::move(runs), message] {
                ReportDatabase(message);
                if (!m_closing) {
                    UpdateChart(runs);
                }
            },
            Qt::QueuedConnection);
    });
}

void CPracticeResultsWindow::UpdateChart(const std::vector<StoredRun>& runs) {
    m_history->SetRuns(runs);
}

QChartView* CPracticeResultsWindow::Chart() const {
    return m_history->Chart();
}

void CPracticeResultsWindow::ShowBeside() {
    if (!isVisible() && m_beside) {
        const QRect main = m_beside->frameGeometry();
        QPoint at(main.right() + kGap, main.top());
        if (const QScreen* screen = m_beside->screen()) {
            const QRect area = screen->availableGeometry();
            const int frame = std::max(0, frameGeometry().width() - width());
            const int right = area.right() - main.right() - kGap;
            const int left = main.left() - kGap - area.left();
            int wide = width() + frame;
            if (wide > right && wide > left) {
                // Neither side has room for it as it is: the roomier side, narrowed to fit
                // as far as its chart allows, rather than over the main window's list.
                wide = std::max(std::max(right, left), minimumSizeHint().width() + frame);
                resize(wide - frame, height());
            }
            if (wide > right && left > right) {
                at.setX(std::max(area.left(), main.left() - wide - kGap));
            }
        }
        move(at);
    }
    show();
}

QString CPracticeResultsWindow::SummaryText() const {
    return m_summary->text();
}

QString CPracticeResultsWindow::TitleText() const {
    return m_title->text();
}

void CPracticeResultsWindow::ShowTrainer(const QString& text) {
    m_trainerLine->setText(text);
    m_trainerLine->setVisible(!text.isEmpty());
    if (!text.isEmpty()) {
        ShowBeside();
    }
}

QString CPracticeResultsWindow::TrainerText() const {
    return m_trainerLine->isVisible() ? m_trainerLine->text() : QString();
}
