// The 練習結果 window: the figures of a run, the buttons that loop a hard bar, the history chart,
// and a run played in the window arriving there and in the history file.

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>
#include <QValueAxis>

#include "engine/performance.h"
#include "engine/take_file.h"
#include "history/practice_database.h"
#include "midi_file_writer/smf_writer.h"
#include "smf/meter_map.h"
#include "smf/smf.h"
#include "song/song_list.h"
#include "ui/control_ids.h"
#include "ui/note_view.h"
#include "ui/position_bar.h"
#include "ui/practice_history_view.h"
#include "ui/practice_results_window.h"
#include "ui_test_support.h"

namespace {

// Practice notes on channel 1 in bars 1 and 3 (2 s a bar).
SmfWriter ShortSong() {
    SmfWriter w;
    w.Note(100, 0, 60, 100).Note(300, 0, 62, 100).Note(500, 0, 64, 100);
    w.Note(4100, 0, 65, 100);
    return w;
}

std::string SmfBytes(const SmfWriter& w) {
    const std::vector<uint8_t> bytes = w.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

class PracticeResultsTest : public WindowTest {
  protected:
    // Lists the song alone under a title of its own.
    void ListTitled(const std::string& path, const char* title) {
        SongList list;
        SongEntry entry;
        entry.m_path = path;
        entry.m_title = title;
        entry.m_channels[0].m_practice = 1;
        list.m_entries.push_back(entry);
        ASSERT_TRUE(SaveSongList(list, m_path + "/" + kSongListFileName));
    }
    CPracticeResultsWindow& Results() { return *m_window->Results(); }
    // The history file of the window's folder, through a connection of the test's own.
    // Once the song plays: a key of no note, an extra press that makes the run one played.
    void PressStrayKey() {
        ASSERT_TRUE(WaitFor([&] { return m_window->Core().ShownSongTime() > 0; }, 20000));
        m_window->Core().PlayScreenKey(40, true);
        m_window->Core().PlayScreenKey(40, false);
    }
    std::vector<StoredRun> StoredRuns(const std::string& path) {
        PracticeDatabase db(QString::fromStdString(m_path));
        return db.RunsOf(QString::fromStdString(path));
    }
};

TEST_F(PracticeResultsTest, ARunShowsItsFiguresBesideTheWindowAndABarButtonLoopsTheBar) {
    const std::string path = WriteFile("short.mid", SmfBytes(ShortSong()));
    ListTitled(path, "短い曲");
    OpenWindow();
    const auto meter = std::make_shared<smf::MeterMap>(*ShortSong().Load());
    RecordedRun r;
    r.run.mode = PlayMode::Accompaniment;
    r.run.songPath = path;
    r.summary.scored = true;
    r.summary.firstBar = 1;
    r.summary.lastBar = 3;
    r.summary.notes = 4;
    r.summary.hit = 3;
    r.summary.missed = 1;
    r.summary.extra = 0;
    r.summary.accuracy = 0.75;
    r.summary.timingP50 = -8;
    r.summary.timingSpread = 24;
    r.hardestBars = {3, 1};
    Results().ShowRun(r, meter);

    EXPECT_TRUE(Results().isVisible());
    EXPECT_FALSE(Results().isModal());
    EXPECT_EQ(Results().windowModality(), Qt::NonModal);
    // Beside the main window, not over it, where the screen has room for it on one side.
    const QRect main = m_window->frameGeometry();
    const QRect area = m_window->screen()->availableGeometry();
    const int wide = Results().frameGeometry().width() + 8;
    if (area.right() - main.right() >= wide || main.left() - area.left() >= wide) {
        EXPECT_FALSE(Results().frameGeometry().intersects(main));
    }
    // The song as the list names it.
    EXPECT_TRUE(Results().TitleText().startsWith(QString::fromUtf8("<b>短い曲</b>")))
        << Results().TitleText().toStdString();
    const QString text = Results().SummaryText();
    EXPECT_TRUE(text.contains(QString::fromUtf8("正確さ: 75%（4 音中 3 音、ミス 1、余分 0）")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("タイミング: 中央値 8 ms 早め、ばらつき 24 ms")))
        << text.toStdString();
    ASSERT_EQ(Results().BarButtons().size(), 2u);
    EXPECT_EQ(Results().BarButtons()[0]->text(), QString::fromUtf8("第3小節を練習する"));
    EXPECT_EQ(Results().BarButtons()[1]->text(), QString::fromUtf8("第1小節を練習する"));

    QTest::mouseClick(Results().BarButtons()[0], Qt::LeftButton);
    ASSERT_TRUE(m_window->Core().Loop().has_value());
    EXPECT_EQ(*m_window->Core().Loop(), (LoopSpan{2000, 6000}));  // bar 3 is the song's last
    EXPECT_EQ(m_window->Core().ShownSongTime(), 2000u);  // stopped: the next start begins there
    // Shown where a loop set by hand shows.
    EXPECT_EQ(m_window->m_positionBar->Loop(), (LoopSpan{2000, 6000}));
    // The main window still takes the player's clicks, and has its keys back.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowActive(m_window.get()));

    // Late presses say so; a faultless run has no bar to practise.
    r.summary.timingP50 = 31;
    r.hardestBars.clear();
    Results().ShowRun(r, meter);
    EXPECT_TRUE(Results().SummaryText().contains(QString::fromUtf8("中央値 31 ms 遅れ")));
    EXPECT_TRUE(Results().BarButtons().empty());
    r.summary.hit = 0;  // no note hit: no timing to tell
    Results().ShowRun(r, meter);
    EXPECT_TRUE(Results().SummaryText().endsWith(
        QString::fromUtf8("タイミング: なし（合った音がありません）")));
    r.summary.hit = 3;

    // The song's history, asked for from the main window, keeps these figures beside it.
    r.hardestBars = {3};
    Results().ShowRun(r, meter);
    const QString figures = Results().SummaryText();
    ClickSongRow(0);
    m_window->OnPracticeHistory();
    EXPECT_EQ(Results().SummaryText(), figures);
    EXPECT_EQ(Results().BarButtons().size(), 1u);
    // Another song's history shows no figures of this one.
    Results().ShowHistory(QString::fromUtf8("/elsewhere/other.mid"));
    EXPECT_TRUE(Results().SummaryText().isEmpty());
    EXPECT_TRUE(Results().BarButtons().empty());
    EXPECT_EQ(Results().TitleText(), QString::fromUtf8("<b>other.mid</b>"));
}

int CountColour(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += std::abs(qRed(p) - qRed(colour)) + std::abs(qGreen(p) - qGreen(colour)) +
                             std::abs(qBlue(p) - qBlue(colour)) <
                         40
                     ? 1
                     : 0;
        }
    }
    return n;
}

TEST_F(PracticeResultsTest, TheHistoryListsAndChartsEachRunInOrder) {
    OpenWindow();
    const QString song = QString::fromStdString(WriteFile("chart.mid", SmfBytes(ShortSong())));
    // Two runs on one evening, one three days later; the fourth was kept before runs without
    // a key pressed were left out.
    struct {
        int day, hour, speed;
        const char* mode;
        double accuracy;
        int hit, chords, timing;
    } const kept[] = {{1, 20, 50, "accompaniment", 0.4, 2, 0, 31},
                      {1, 21, 80, "model", 0.0, 0, 0, 0},
                      {4, 20, 100, "lesson", 0.9, 0, 10, 420},
                      {4, 21, 100, "accompaniment", 0.0, 0, 0, 0}};
    for (const auto& k : kept) {
        StoredRun r;
        r.songPath = song;
        r.started = QDateTime(QDate(2026, 12, k.day), QTime(k.hour, 0), Qt::UTC);
        r.mode = k.mode;
        r.speed = k.speed;
        r.accuracy = k.accuracy;
        r.hit = k.hit;
        r.notes = 4;
        r.chords = k.chords;
        r.timingP50 = k.timing;
        r.firstBar = 1;
        r.lastBar = 3;
        PracticeDatabase db(QString::fromStdString(m_path));
        ASSERT_TRUE(db.Store(r));
    }
    Results().ShowHistory(QString::fromUtf8("/nowhere/unknown.mid"));
    Results().FinishStoring();
    QApplication::processEvents();
    CPracticeHistoryView* history = Results().History();
    EXPECT_TRUE(history->ShowsEmptyText());
    EXPECT_TRUE(history->findChild<QLabel*>("noRuns")->isVisible());
    EXPECT_FALSE(history->Chart()->isVisible());
    Results().resize(900, 520);
    const QList<QAbstractSeries*> none = Results().Chart()->chart()->series();
    ASSERT_EQ(none.size(), 2);
    const QColor accuracyColour = static_cast<QLineSeries*>(none[0])->color();
    const int emptyPixels = CountColour(Results().Chart()->grab().toImage(), accuracyColour.rgb());

    Results().ShowHistory(song);
    // Read on the history's own thread; drawn when it arrives.
    ASSERT_TRUE(WaitFor([&] { return !history->ShowsEmptyText(); }));
    QApplication::processEvents();
    EXPECT_TRUE(history->Chart()->isVisible());
    EXPECT_TRUE(history->List()->isVisible());
    const QList<QAbstractSeries*> series = Results().Chart()->chart()->series();
    ASSERT_EQ(series.size(), 2);
    auto* acc = static_cast<QLineSeries*>(series[0]);
    auto* tempo = static_cast<QLineSeries*>(series[1]);
    // One point a run, in the order played, whatever the days between; the run without a key
    // pressed is left out and the model performance has a tempo only.
    ASSERT_EQ(tempo->count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(tempo->at(i).x(), i + 1.0);
    }
    EXPECT_DOUBLE_EQ(tempo->at(1).y(), 80.0);
    ASSERT_EQ(acc->count(), 2);
    EXPECT_EQ(acc->at(0), QPointF(1, 40));
    EXPECT_EQ(acc->at(1), QPointF(3, 90));
    // Accuracy 0-100% in steps of 20 on the left, the tempo in percent of the song's on the
    // right, gridded alike.
    for (QLineSeries* s : {acc, tempo}) {
        const QList<QAbstractAxis*> axes = s->attachedAxes();
        ASSERT_EQ(axes.size(), 2);
        auto* x =
            static_cast<QValueAxis*>(axes[0]->orientation() == Qt::Horizontal ? axes[0] : axes[1]);
        auto* y =
            static_cast<QValueAxis*>(axes[0]->orientation() == Qt::Horizontal ? axes[1] : axes[0]);
        EXPECT_EQ(x->min(), 0.5);
        EXPECT_EQ(x->max(), 3.5);
        EXPECT_EQ(x->tickInterval(), 1.0);
        EXPECT_EQ(y->min(), 0.0);
        EXPECT_EQ(y->tickCount(), 6);
        EXPECT_EQ(y->max(), s == acc ? 100.0 : 125.0);
        EXPECT_EQ(y->alignment(), s == acc ? Qt::AlignLeft : Qt::AlignRight);
    }
    // The accuracy line is drawn: far more of its colour than in the legend alone.
    const int pixels = CountColour(Results().Chart()->grab().toImage(), acc->color().rgb());
    EXPECT_GT(pixels, emptyPixels + 100) << pixels << " vs " << emptyPixels;

    // The list beside it: the newest first, numbered as the chart counts.
    const QTableWidget* list = history->List();
    ASSERT_EQ(list->rowCount(), 3);
    auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c) {
            cells << list->item(r, c)->text();
        }
        return cells.join(QLatin1Char('|'));
    };
    const auto local = [](int day, int hour) {
        return QDateTime(QDate(2026, 12, day), QTime(hour, 0), Qt::UTC)
            .toLocalTime()
            .toString(QStringLiteral("M/d H:mm"));
    };
    EXPECT_EQ(
        row(0),
        QString::fromUtf8("3|%1|マイペースレッスン|x1.0|1〜3|90%|待ち 420 ms").arg(local(4, 20)));
    EXPECT_EQ(row(1), QString::fromUtf8("2|%1|お手本演奏|x0.8|1〜3|—|—").arg(local(1, 21)));
    EXPECT_EQ(row(2),
              QString::fromUtf8("1|%1|伴奏演奏|x0.5|1〜3|40%|31 ms 遅れ").arg(local(1, 20)));
    EXPECT_LT(list->mapTo(&Results(), QPoint(list->width(), 0)).x(),
              history->Chart()->mapTo(&Results(), QPoint(0, 0)).x() + 1)
        << "beside the chart";
    // In a narrow strip of the screen, over it.
    Results().resize(420, 700);
    QApplication::processEvents();
    EXPECT_LT(list->mapTo(&Results(), QPoint(0, list->height())).y(),
              history->Chart()->mapTo(&Results(), QPoint(0, 0)).y() + 1);
}

TEST_F(PracticeResultsTest, AnAccompanimentPlayedInTheWindowEndsInTheResultsAndTheHistory) {
    const std::string path = WriteFile("played.mid", SmfBytes(ShortSong()));
    OpenWindow();
    m_window->AddSongPath(QString::fromStdString(path));
    ClickSongRow(0);
    m_window->OnCommand(ids::kAccompaniment);
    // One stray key and nothing else: every note is missed, most of them in bar 1.
    PressStrayKey();
    ASSERT_TRUE(WaitFor(
        [&] {
            return Results().isVisible() &&
                   Results().SummaryText().contains(QString::fromUtf8("4 音中 0 音"));
        },
        20000))
        << Results().SummaryText().toStdString();
    ASSERT_GE(Results().BarButtons().size(), 1u);
    EXPECT_EQ(Results().BarButtons()[0]->text(), QString::fromUtf8("第1小節を練習する"));
    QTest::mouseClick(Results().BarButtons()[0], Qt::LeftButton);
    EXPECT_EQ(*m_window->Core().Loop(), (LoopSpan{0, 4000}));

    // Shown once stored: the history holds it, and the chart has its point.
    const std::vector<StoredRun> runs = StoredRuns(path);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].mode, "accompaniment");
    EXPECT_EQ(runs[0].missed, 4);
    EXPECT_TRUE(QFile::exists(QDir(QString::fromStdString(m_path)).filePath("practice.sqlite")));
    const QList<QAbstractSeries*> series = Results().Chart()->chart()->series();
    ASSERT_EQ(series.size(), 2);
    EXPECT_EQ(static_cast<QLineSeries*>(series[0])->count(), 1);

    // What was played is kept with the run, and saved with the song as a MIDI file of its own.
    ASSERT_TRUE(runs[0].hasTake);
    EXPECT_FALSE(Results().ExportButton()->isEnabled());
    Results().History()->List()->selectRow(0);
    ASSERT_TRUE(Results().ExportButton()->isEnabled());
    // Drawn over the song it was played in.
    ASSERT_TRUE(WaitFor([&] { return m_window->m_noteView->ShownTake().has_value(); }));
    EXPECT_TRUE(Results().TakeNoteText().isEmpty());
    const QString out = QDir(QString::fromStdString(m_path)).filePath("with-take.mid");
    QString suggested;
    Results().SetSavePathChooser([&](const QString& s) {
        suggested = s;
        return out;
    });
    QTest::mouseClick(Results().ExportButton(), Qt::LeftButton);
    Results().FinishStoring();
    QApplication::processEvents();
    EXPECT_TRUE(
        suggested.startsWith(QFileInfo(QString::fromStdString(path)).dir().filePath("played-")))
        << suggested.toStdString();
    const std::unique_ptr<smf::Song> exported = smf::LoadFromFile(out.toStdString());
    ASSERT_TRUE(exported);
    ASSERT_EQ(exported->Tracks().size(), ShortSong().Load()->Tracks().size() + 1);
    const smf::EventList& take = exported->Tracks().back().events;
    ASSERT_GE(take.size(), 3u);  // its name, the stray key down and up
    EXPECT_EQ(exported->Data(take[1])[0], 0x90);
    EXPECT_EQ(exported->Data(take[1])[1], 40);
    EXPECT_TRUE(m_window->m_messages.empty());
    // A take damaged in the file: the run still shows, and says its take cannot be read.
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", "damage-take");
        raw.setDatabaseName(QDir(QString::fromStdString(m_path)).filePath("practice.sqlite"));
        ASSERT_TRUE(raw.open());
        ASSERT_TRUE(QSqlQuery(raw).exec("UPDATE takes SET smf = x'4d546864'"));
        raw.close();
    }
    QSqlDatabase::removeDatabase("damage-take");
    Results().ShowHistory(QString::fromStdString(path));
    Results().FinishStoring();
    QApplication::processEvents();
    ASSERT_EQ(Results().History()->List()->rowCount(), 1);
    Results().History()->List()->selectRow(0);
    ASSERT_TRUE(WaitFor([&] { return !Results().TakeNoteText().isEmpty(); }));
    EXPECT_FALSE(Results().ExportButton()->isEnabled());
    EXPECT_FALSE(m_window->m_noteView->ShownTake().has_value());

    // A pass of the loop in which nothing is played is said so, and neither kept nor charted.
    m_window->OnCommand(ids::kAccompaniment);
    ASSERT_TRUE(WaitFor(
        [&] {
            return Results().SummaryText() ==
                   QString::fromUtf8("弾いた音がなかったため、この演奏は記録しませんでした。");
        },
        20000))
        << Results().SummaryText().toStdString();
    m_window->OnCommand(ids::kStop);
    EXPECT_TRUE(Results().BarButtons().empty());
    Results().FinishStoring();
    QApplication::processEvents();
    EXPECT_EQ(StoredRuns(path).size(), 1u);
    EXPECT_EQ(static_cast<QLineSeries*>(Results().Chart()->chart()->series()[0])->count(), 1);
}

// Runs are collected while play goes on and until the last one is in; then the collector rests,
// so that a window left alone does not wake for it.
TEST_F(PracticeResultsTest, RunsAreCollectedOnlyWhilePlayOrARunIsPending) {
    const std::string path = WriteFile("rest.mid", SmfBytes(ShortSong()));
    OpenWindow();
    m_window->AddSongPath(QString::fromStdString(path));
    ClickSongRow(0);
    EXPECT_TRUE(WaitFor([&] { return !Results().Collecting(); }));
    m_window->OnCommand(ids::kAccompaniment);
    PressStrayKey();
    EXPECT_TRUE(Results().Collecting());
    m_window->OnCommand(ids::kStop);
    ASSERT_TRUE(WaitFor([&] { return StoredRuns(path).size() == 1; }, 5000));
    EXPECT_TRUE(WaitFor([&] { return !Results().Collecting(); }));
}

TEST_F(PracticeResultsTest, ARunEndedIsShownAsSoonAsItCanBeScoredNotAtTheNextLook) {
    SmfWriter w;
    w.Note(100, 0, 60, 100).Note(300, 0, 62, 100);
    const std::string path = WriteFile("short.mid", SmfBytes(w));
    OpenWindow();
    m_window->AddSongPath(QString::fromStdString(path));
    ClickSongRow(0);
    Results().SetCollectInterval(600000);  // its periodic look would come far too late
    m_window->OnCommand(ids::kAccompaniment);
    PressStrayKey();
    EXPECT_TRUE(WaitFor(
        [&] { return Results().SummaryText().contains(QString::fromUtf8("2 音中 0 音")); }, 10000))
        << Results().SummaryText().toStdString();
}

TEST_F(PracticeResultsTest, ClosingTheWindowMidRunStoresThatRunBeforeItGoes) {
    const std::string path = WriteFile("closed.mid", SmfBytes(ShortSong()));
    OpenWindow();
    m_window->AddSongPath(QString::fromStdString(path));
    ClickSongRow(0);
    m_window->OnCommand(ids::kAccompaniment);
    PressStrayKey();
    // Well into the first bar, two of its notes already missed.
    ASSERT_TRUE(WaitFor([&] { return m_window->Core().ShownSongTime() >= 800; }, 20000));
    m_window->OnDestroy();
    // Stored by the time the window has gone, not some time after.
    const std::vector<StoredRun> runs = StoredRuns(path);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].mode, "accompaniment");
    EXPECT_GE(runs[0].notes, 3);
    EXPECT_TRUE(m_window->m_messages.empty());
}

}  // namespace

namespace {

TEST_F(PracticeResultsTest, TheHistoryTellsARunOfOneHandFromOneOfBoth) {
    OpenWindow();
    const QString song = QString::fromStdString(WriteFile("hands.mid", SmfBytes(ShortSong())));
    for (const char* hand : {"both", "left"}) {
        StoredRun r;
        r.songPath = song;
        r.started = QDateTime(QDate(2026, 12, 1), QTime(hand[0] == 'b' ? 20 : 21, 0), Qt::UTC);
        r.mode = "lesson";
        r.chords = 4;
        r.hand = hand;
        PracticeDatabase db(QString::fromStdString(m_path));
        ASSERT_TRUE(db.Store(r));
    }
    Results().ShowHistory(song);
    Results().FinishStoring();
    QApplication::processEvents();
    const QTableWidget* list = Results().History()->List();
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(list->item(0, 2)->text(), QString::fromUtf8("マイペースレッスン（左手）"));
    EXPECT_EQ(list->item(1, 2)->text(), QString::fromUtf8("マイペースレッスン"));
}

}  // namespace

namespace {

// Runs of one hand carry a mark of their hand on both lines, named once in the legend; runs of
// both hands keep the plain points.
TEST(PracticeHistoryChartTest, RunsOfOneHandAreMarkedByTheirHand) {
    struct {
        const char* hand;
        const char* mode;
        int speed;
        double accuracy;
    } const played[] = {{"both", "lesson", 100, 0.5},
                        {"right", "lesson", 80, 0.7},
                        {"left", "model", 60, 0.0},
                        {"right", "accompaniment", 100, 0.9}};
    std::vector<StoredRun> runs;
    for (const auto& p : played) {
        StoredRun r;
        r.hand = p.hand;
        r.mode = p.mode;
        r.speed = p.speed;
        r.accuracy = p.accuracy;
        r.notes = r.hit = r.chords = 4;
        runs.push_back(r);
    }
    CPracticeHistoryView view(nullptr);
    view.resize(700, 400);
    view.SetRuns(runs);
    view.show();
    QChart* chart = view.Chart()->chart();
    const QList<QAbstractSeries*> series = chart->series();
    ASSERT_EQ(series.size(), 6);
    auto* accuracy = static_cast<QLineSeries*>(series[0]);
    auto* tempo = static_cast<QLineSeries*>(series[1]);
    auto marks = [&](int i) { return qobject_cast<QScatterSeries*>(series[i]); };
    for (int i = 2; i < 6; ++i) {
        ASSERT_NE(marks(i), nullptr);
        EXPECT_EQ(marks(i)->attachedAxes(), (i % 2 == 0 ? accuracy : tempo)->attachedAxes());
        // Named once in the legend, on the accuracy marks.
        EXPECT_EQ(chart->legend()->markers(marks(i))[0]->isVisible(), i % 2 == 0);
    }
    EXPECT_EQ(marks(2)->name(), QString::fromUtf8("右手"));
    EXPECT_EQ(marks(2)->points(), (QList<QPointF>{{2, 70}, {4, 90}}));
    EXPECT_EQ(marks(3)->points(), (QList<QPointF>{{2, 80}, {4, 100}}));
    EXPECT_EQ(marks(4)->name(), QString::fromUtf8("左手"));
    EXPECT_TRUE(marks(4)->points().isEmpty()) << "a model performance has no accuracy";
    EXPECT_EQ(marks(5)->points(), (QList<QPointF>{{3, 60}}));
    EXPECT_NE(marks(2)->markerShape(), marks(4)->markerShape());
    EXPECT_NE(marks(2)->color(), marks(4)->color());
    const QImage drawn = view.Chart()->grab().toImage();
    EXPECT_GT(CountColour(drawn, marks(2)->color().rgb()), 40);
    EXPECT_GT(CountColour(drawn, marks(5)->color().rgb()), 20);
}

}  // namespace

namespace {

// 聴く replays a chosen run's take over the song, drawn over it as it plays and compared with the
// parts the run practised, not those ticked now; it records nothing. A run without a take
// cannot be heard, and says why.
TEST_F(PracticeResultsTest, ARunsTakeIsHeardAndSeenOverItsSongAgainstItsOwnParts) {
    OpenWindow();
    const std::string path = WriteFile("heard.mid", SmfBytes(ShortSong()));
    m_window->AddSongPath(QString::fromStdString(path));
    m_window->AddSongPath(QString::fromStdString(WriteFile("other.mid", SmfBytes(ShortSong()))));
    ClickSongRow(1);  // another song: 聴く selects the run's
    const QString song = QString::fromStdString(path);
    {
        PracticeDatabase db(QString::fromStdString(m_path));
        StoredRun played;
        played.songPath = song;
        played.started = QDateTime(QDate(2026, 12, 1), QTime(20, 0), Qt::UTC);
        played.mode = "lesson";
        played.chords = 1;
        played.channels = 1 << 1;  // a part with no notes near the take: nothing missed in it
        played.splitKey = 60;
        const std::vector<uint8_t> take =
            TakeToSmf({{100, TakeEvent::NoteOn, 60, 90, 0}, {600, TakeEvent::NoteOff, 60, 0, 0}});
        played.take = QByteArray(reinterpret_cast<const char*>(take.data()),
                                 static_cast<qsizetype>(take.size()));
        ASSERT_TRUE(db.Store(played));
        StoredRun bare = played;
        bare.started = bare.started.addSecs(60);
        bare.take.clear();
        ASSERT_TRUE(db.Store(bare));
    }
    Results().ShowHistory(song);
    Results().FinishStoring();
    QApplication::processEvents();
    ASSERT_EQ(Results().History()->List()->rowCount(), 2);
    QPushButton* listen = Results().ReplayButton();
    EXPECT_FALSE(listen->isEnabled());

    Results().History()->List()->selectRow(0);  // newest first: the run without a take
    Results().FinishStoring();
    QApplication::processEvents();
    EXPECT_FALSE(listen->isEnabled());
    EXPECT_EQ(listen->toolTip(), QString::fromUtf8("この回の演奏の記録がないため、聴けません。"));

    Results().History()->List()->selectRow(1);
    ASSERT_TRUE(WaitFor([&] { return listen->isEnabled(); }));
    EXPECT_FALSE(m_window->m_noteView->ShownTake().has_value());  // not the song shown
    QTest::mouseClick(listen, Qt::LeftButton);
    ASSERT_TRUE(m_window->Core().Session().Replaying());
    EXPECT_EQ(m_window->SelectedSongRow(), 0);
    ASSERT_TRUE(WaitFor([&] { return m_window->Core().ShownSongTime() > 700; }, 20000));
    ASSERT_TRUE(m_window->m_noteView->ShownTake().has_value());
    EXPECT_EQ(m_window->m_noteView->ShownTake()->played.size(), 1u);
    EXPECT_TRUE(m_window->m_noteView->ShownTake()->missed.empty());
    m_window->OnCommand(ids::kStop);
    m_window->Results()->CollectRuns(true);
    EXPECT_EQ(StoredRuns(path).size(), 2u);
}

}  // namespace
