// The 練習結果 window: the figures of a run, the buttons that loop a hard bar, the history chart,
// and a run played in the window arriving there and in the history file.

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFile>
#include <QLineSeries>
#include <QPushButton>
#include <QTest>

#include "engine/performance.h"
#include "history/practice_database.h"
#include "midi_file_writer/smf_writer.h"
#include "smf/meter_map.h"
#include "ui/control_ids.h"
#include "ui/position_bar.h"
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
    CPracticeResultsWindow& Results() { return *m_window->Results(); }
    // The history file of the window's folder, through a connection of the test's own.
    std::vector<StoredRun> StoredRuns(const std::string& path) {
        PracticeDatabase db(QString::fromStdString(m_path));
        return db.RunsOf(QString::fromStdString(path));
    }
};

TEST_F(PracticeResultsTest, ARunShowsItsFiguresBesideTheWindowAndABarButtonLoopsTheBar) {
    OpenWindow();
    const auto meter = std::make_shared<smf::MeterMap>(*ShortSong().Load());
    RecordedRun r;
    r.run.mode = PlayMode::Accompaniment;
    r.run.songPath = WriteFile("short.mid", SmfBytes(ShortSong()));
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
    // Beside the main window, not over it, where the screen has room for both.
    const QRect main = m_window->frameGeometry();
    if (m_window->screen()->availableGeometry().width() >= main.width() + Results().width() + 8) {
        EXPECT_FALSE(Results().frameGeometry().intersects(main));
    }
    const QString text = Results().SummaryText();
    EXPECT_TRUE(text.contains(QString::fromUtf8("正確さ: 75%（4 音中 3 音、ミス 1、余分 0）")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("中央値 -8 ms、ばらつき 24 ms")));
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

TEST_F(PracticeResultsTest, TheChartShowsAccuracyAndTempoByDate) {
    OpenWindow();
    const QString song = QString::fromStdString(WriteFile("chart.mid", SmfBytes(ShortSong())));
    const int speeds[] = {50, 80, 100};
    const double accuracy[] = {0.4, 0.0, 0.9};
    const char* modes[] = {"accompaniment", "model", "lesson"};
    for (int i = 0; i < 3; ++i) {
        StoredRun r;
        r.songPath = song;
        r.started = QDateTime(QDate(2026, 12, 1 + 3 * i), QTime(20, 0), Qt::UTC);
        r.mode = modes[i];
        r.speed = speeds[i];
        r.accuracy = accuracy[i];
        PracticeDatabase db(QString::fromStdString(m_path));
        ASSERT_TRUE(db.Store(r));
    }
    Results().ShowHistory(QString::fromUtf8("/nowhere/unknown.mid"));
    Results().resize(520, 520);
    Results().FinishStoring();
    QApplication::processEvents();
    const QList<QAbstractSeries*> none = Results().Chart()->chart()->series();
    ASSERT_EQ(none.size(), 2);
    const QColor accuracyColour = static_cast<QLineSeries*>(none[0])->color();
    const int emptyPixels = CountColour(Results().Chart()->grab().toImage(), accuracyColour.rgb());

    Results().ShowHistory(song);
    // Read on the history's own thread; drawn when it arrives.
    ASSERT_TRUE(WaitFor([&] {
        const QList<QAbstractSeries*> s = Results().Chart()->chart()->series();
        return s.size() == 2 && static_cast<QLineSeries*>(s[1])->count() == 3;
    }));
    QApplication::processEvents();
    const QList<QAbstractSeries*> series = Results().Chart()->chart()->series();
    ASSERT_EQ(series.size(), 2);
    auto* acc = static_cast<QLineSeries*>(series[0]);
    auto* tempo = static_cast<QLineSeries*>(series[1]);
    // The model performance has no accuracy; every run has its tempo.
    ASSERT_EQ(acc->count(), 2);
    EXPECT_DOUBLE_EQ(acc->at(0).y(), 40.0);
    EXPECT_DOUBLE_EQ(acc->at(1).y(), 90.0);
    ASSERT_EQ(tempo->count(), 3);
    EXPECT_DOUBLE_EQ(tempo->at(1).y(), 80.0);
    EXPECT_LT(tempo->at(0).x(), tempo->at(2).x());
    // The accuracy line is drawn: far more of its colour than in the legend alone.
    const int pixels = CountColour(Results().Chart()->grab().toImage(), acc->color().rgb());
    EXPECT_GT(pixels, emptyPixels + 100) << pixels << " vs " << emptyPixels;
}

TEST_F(PracticeResultsTest, AnAccompanimentPlayedInTheWindowEndsInTheResultsAndTheHistory) {
    const std::string path = WriteFile("played.mid", SmfBytes(ShortSong()));
    OpenWindow();
    m_window->AddSongPath(QString::fromStdString(path));
    ClickSongRow(0);
    m_window->OnCommand(ids::kAccompaniment);
    // Nobody plays: every note is missed, most of them in bar 1.
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
}

TEST_F(PracticeResultsTest, ClosingTheWindowMidRunStoresThatRunBeforeItGoes) {
    const std::string path = WriteFile("closed.mid", SmfBytes(ShortSong()));
    OpenWindow();
    m_window->AddSongPath(QString::fromStdString(path));
    ClickSongRow(0);
    m_window->OnCommand(ids::kAccompaniment);
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
