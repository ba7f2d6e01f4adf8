// While a song plays, the window repaints only what moved: a key whose look changed, the bars
// that are fading, the position bar's thumb. What is then on the screen must still be what a
// whole redraw shows.

#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "clocked_window_test.h"
#include "engine/track_activity.h"
#include "midi_file_writer/smf_writer.h"
#include "platform/clock.h"
#include "smf/smf.h"
#include "ui/control_ids.h"
#include "ui/keyboard_panel.h"
#include "ui/position_bar.h"
#include "ui/track_list_box.h"

namespace {

// The area of every paint event a widget gets while it lives.
class PaintLog : public QObject {
  public:
    explicit PaintLog(QWidget* widget) : m_widget(widget) { widget->installEventFilter(this); }
    ~PaintLog() override { m_widget->removeEventFilter(this); }
    // What was painted since the last call, once the pending repaints are done.
    QRect TakeArea() {
        QApplication::processEvents();
        return std::exchange(m_area, QRect());
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            m_area |= static_cast<QPaintEvent*>(event)->rect();
        }
        return false;
    }

  private:
    QWidget* m_widget;
    QRect m_area;
};

int DifferingPixels(QWidget* widget) {
    QApplication::processEvents();
    return PixelsShownDifferently(widget);
}

// A position bar 600 pixels wide, shown with the song's meter.
void ShowWithSong(CPositionBar& bar, SmfWriter& song) {
    bar.resize(600, 24);
    bar.SetSong(std::make_shared<const smf::MeterMap>(*song.Load()));
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
}

// The list keeps where its rows are between the bars' repaints; whatever moves the rows moves
// what those repaints cover.
TEST(PartialRepaint, ABarIsRedrawnWhereItsRowIsAfterANewFontRemovedRowsOrAScroll) {
    TrackActivity activity;
    CTrackListBox list(activity);
    for (int ch = 0; ch < 12; ++ch) {
        list.AddTrackRow(QStringLiteral("CH:%1").arg(ch + 1), ch, false);
    }
    list.resize(300, 90);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    PaintLog log(list.viewport());
    const auto redrawn = [&](int row) {
        log.TakeArea();
        list.RepaintActivity(row);
        return log.TakeArea();
    };
    for (int row = 0; row < 12; ++row) {
        list.RepaintActivity(row);  // every row's place is known now
    }
    ASSERT_FALSE(list.ActivityRect(2).isEmpty());
    ASSERT_EQ(redrawn(2), list.ActivityRect(2));

    QFont bigger = list.font();
    bigger.setPointSize(bigger.pointSize() * 2);
    list.setFont(bigger);
    list.doItemsLayout();
    EXPECT_EQ(redrawn(2), list.ActivityRect(2) & list.viewport()->rect());

    list.setFont(QFont());
    delete list.takeItem(0);
    delete list.takeItem(0);
    list.doItemsLayout();
    EXPECT_EQ(redrawn(1), list.ActivityRect(1));

    const int last = list.count() - 1;
    list.RepaintActivity(last);
    list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
    ASSERT_FALSE((list.ActivityRect(last) & list.viewport()->rect()).isEmpty());
    EXPECT_EQ(redrawn(last), list.ActivityRect(last) & list.viewport()->rect());
}

TEST(PartialRepaint, ThePositionBarRedrawsItsThumbAloneUntilItsTextChanges) {
    SmfWriter w;
    w.Note(0, 0, 60, 16000);  // 4/4 at 120: beats of 500 ms
    CPositionBar bar(nullptr);
    ASSERT_NO_FATAL_FAILURE(ShowWithSong(bar, w));
    bar.SetPosition(8000);
    QApplication::processEvents();
    PaintLog log(&bar);

    log.TakeArea();

    bar.SetPosition(8100);  // a few pixels on, the same beat and second
    const QRect area = log.TakeArea();
    EXPECT_GE(area.left(), bar.GrooveRect().left()) << "the text is not drawn again";
    EXPECT_LE(area.width(), bar.XOf(8100) - bar.XOf(8000) + 3);
    EXPECT_EQ(DifferingPixels(&bar), 0);

    log.TakeArea();         // the grab's own paint
    bar.SetPosition(8600);  // the next beat: the text changes too
    EXPECT_LT(log.TakeArea().left(), bar.GrooveRect().left());
    EXPECT_EQ(DifferingPixels(&bar), 0);
}

// The text shows the second as well as the beat: a new second within a beat redraws it.
TEST(PartialRepaint, ThePositionBarTextFollowsANewSecondWithinABeat) {
    SmfWriter w;
    w.Tempo(0, 1500000).Note(0, 0, 60, 16000);  // 4/4 at 40: beats of 1500 ms
    CPositionBar bar(nullptr);
    ASSERT_NO_FATAL_FAILURE(ShowWithSong(bar, w));
    bar.SetPosition(9400);
    QApplication::processEvents();
    PaintLog log(&bar);
    log.TakeArea();

    bar.SetPosition(10100);  // the same beat, the next second
    EXPECT_LT(log.TakeArea().left(), bar.GrooveRect().left());
    EXPECT_EQ(DifferingPixels(&bar), 0);
}

class PartialRepaintTest : public ClockedWindowTest {};

TEST_F(PartialRepaintTest, AKeyAndAFadingBarAreRedrawnAloneAndShowAsAWholeRedraw) {
    SmfWriter w;
    w.Note(100, 0, 60, 400).Note(100, 0, 64, 400);
    OpenWithSong(w, "chord.mid");
    m_window->m_idleTimer.stop();  // the test runs the idle routine itself
    CKeyboardPanel* keys = m_window->m_keyboard;
    CTrackListBox* list = m_window->m_trackList;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->OnCommand(ids::kModelPerformance);
    m_window->OnKickIdle();
    QApplication::processEvents();
    PaintLog keyLog(keys);
    PaintLog listLog(list->viewport());

    while (keys->Look(60) != CKeyboardPanel::Lit && SongTime() < 400) {
        Tick(10);
        m_window->OnKickIdle();
    }
    ASSERT_EQ(keys->Look(60), CKeyboardPanel::Lit);
    const QRect keyArea = keyLog.TakeArea();
    EXPECT_TRUE(keyArea.intersects(keys->KeyRect(60)));
    EXPECT_LT(keyArea.width(), keys->width() / 4) << "only the chord's keys";
    EXPECT_EQ(DifferingPixels(keys), 0);

    // The bar of the sounding channel fades in steps; nothing else of the list is drawn.
    listLog.TakeArea();  // and the grab's own paint
    Tick(40);
    m_window->OnKickIdle();
    const QRect barArea = listLog.TakeArea();
    EXPECT_FALSE(barArea.isEmpty());
    EXPECT_EQ(barArea & list->ActivityRect(0), barArea);
    EXPECT_EQ(DifferingPixels(list->viewport()), 0);
    m_window->OnCommand(ids::kStop);
}

// Bars fading in rows apart are redrawn as one stretch of their column, the row between too,
// and the list then shows what a whole redraw shows.
TEST_F(PartialRepaintTest, BarsOfRowsApartAreRedrawnAsOneStretchOfTheirColumn) {
    SmfWriter w;
    w.Note(100, 0, 60, 400).NewTrack().Note(2000, 1, 62, 400).NewTrack().Note(100, 2, 64, 400);
    OpenWithSong(w, "apart.mid");
    m_window->m_idleTimer.stop();  // the test runs the idle routine itself
    CTrackListBox* list = m_window->m_trackList;
    ASSERT_EQ(list->count(), 3);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->OnCommand(ids::kModelPerformance);
    while (SongTime() < 200) {
        Tick(10);
        m_window->OnKickIdle();
    }
    QApplication::processEvents();
    PaintLog listLog(list->viewport());
    listLog.TakeArea();

    Tick(40);
    m_window->OnKickIdle();
    const QRect column = list->ActivityRect(0) | list->ActivityRect(2);
    EXPECT_EQ(listLog.TakeArea(), column);
    EXPECT_EQ(DifferingPixels(list->viewport()), 0);
    m_window->OnCommand(ids::kStop);
}

}  // namespace
