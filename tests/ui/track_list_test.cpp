// The track check list: practice ticks and the activity bars.

#include <QImage>
#include <QTest>

#include "current_performance.h"
#include "engine/performance.h"
#include "platform/clock.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/track_list_box.h"
#include "ui_test_support.h"

namespace {

class TrackListTest : public WindowTest {
  protected:
    void OpenWithSong() {
        WriteSongList({DemoSong(1)});  // channels 1, 2, 3 and 10
        OpenWindow();
        ClickSongRow(0);
        ASSERT_EQ(m_window->m_trackList->count(), 4);
    }
};

TEST_F(TrackListTest, TickingChangesThePracticeFlagsAndTheRunningPerformance) {
    OpenWithSong();
    QTest::keyClick(Control(ids::kSongList), Qt::Key_F5);
    ASSERT_NE(PerformanceOf(m_window->Core()), nullptr);
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().PracticeMask(), 0x0001u);

    m_window->m_trackList->item(3)->setCheckState(Qt::Checked);    // channel 10
    m_window->m_trackList->item(0)->setCheckState(Qt::Unchecked);  // channel 1
    const SongEntry& entry = m_window->Core().Songs().m_entries[0];
    EXPECT_EQ(entry.m_channels[9].m_practice, 1);
    EXPECT_EQ(entry.m_channels[0].m_practice, 0);
    {
        CheckedLock lock(m_window->Core().Session().PlayLock());
        EXPECT_EQ(m_window->Core().Session().CurrentPerformance()->GetPlayer().PracticeMask(),
                  1u << 9);
    }
    EXPECT_NE(m_window->Core().CurrentPlayState(), Stopped);  // ticking does not stop the song

    // Saved at exit with the new ticks.
    m_window->OnDestroy();
    EXPECT_NE(ReadFile("songlist.txt").find("0x0200"), std::string::npos);
}

TEST_F(TrackListTest, SpaceTicksTheRowWithTheFocus) {
    OpenWithSong();
    CTrackListBox* list = m_window->m_trackList;
    list->setFocus();
    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(list->RowChecked(2));
    EXPECT_EQ(m_window->Core().Songs().m_entries[0].m_channels[2].m_practice, 1);
    EXPECT_TRUE(list->selectedItems().isEmpty());  // rows are never selected
}

// Without a selected song there are no rows to tick, and no row of the song selected before
// is left to reach its practice channels.
TEST_F(TrackListTest, WithoutASelectedSongThereIsNothingToTick) {
    OpenWithSong();
    m_window->m_songListBox->clearSelection();
    EXPECT_EQ(m_window->m_trackList->count(), 0);
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(m_window->Core().Session().ChannelRows()[ch], -1) << ch;
    }
    m_window->OnTrackCheckChange();
    EXPECT_EQ(m_window->Core().Songs().m_entries[0].m_channels[0].m_practice, 1);
}

// The activity area of a row as painted: bar width, bar colour and the background.
struct Painted {
    int width = 0;
    QColor bar;
    bool marginsBackground = true;
};

Painted PaintedBar(CTrackListBox* list, int row) {
    list->doItemsLayout();  // rows filled a moment ago are laid out in the next event loop run
    const QImage image = list->viewport()->grab().toImage();
    const QRect area = list->ActivityRect(row);
    const QColor background = list->palette().color(QPalette::Base);
    const int middle = area.top() + area.height() / 2;
    Painted painted;
    while (painted.width < area.width() &&
           image.pixelColor(area.left() + painted.width, middle).rgb() != background.rgb()) {
        ++painted.width;
    }
    if (painted.width > 0) {
        painted.bar = image.pixelColor(area.left(), middle).toRgb();
    }
    for (int x = area.left(); x < area.left() + area.width(); ++x) {
        for (int y : {area.top(), area.top() + 1, area.bottom() - 1, area.bottom()}) {
            painted.marginsBackground =
                painted.marginsBackground && image.pixelColor(x, y).rgb() == background.rgb();
        }
        // Nothing of the bar beyond its width.
        if (x >= area.left() + painted.width) {
            painted.marginsBackground =
                painted.marginsBackground && image.pixelColor(x, middle).rgb() == background.rgb();
        }
    }
    return painted;
}

TEST_F(TrackListTest, ActivityBarsFadeByAgeInRedOrGrey) {
    OpenWithSong();
    m_window->m_idleTimer.stop();  // the test moves the repaint clock itself
    CTrackListBox* list = m_window->m_trackList;
    const QColor background = list->palette().color(QPalette::Base);
    TrackActivity& activity = m_window->Core().Activity();
    // The observer's context is the session, as the performance registers it.
    PlaySession* session = &m_window->Core().Session();

    const uint32_t start = 100000;
    activity.m_now = start;
    // A note on channel 10 (row 3), as the performance reports it, sounding; one on channel 2
    // (row 1), muted; none on channel 4, which has no row.
    PlaySession::OnPerformanceNoteOn(session, 9, 60, 100, false);
    PlaySession::OnPerformanceNoteOn(session, 1, 60, 100, true);
    PlaySession::OnPerformanceNoteOn(session, 3, 60, 100, false);

    Painted red = PaintedBar(list, 3);
    EXPECT_EQ(red.width, 30);
    EXPECT_EQ(red.bar, QColor(255, 0, 0));
    EXPECT_TRUE(red.marginsBackground);
    Painted grey = PaintedBar(list, 1);
    EXPECT_EQ(grey.width, 30);
    EXPECT_EQ(grey.bar, QColor(192, 192, 192));
    EXPECT_EQ(PaintedBar(list, 0).width, 0);
    EXPECT_EQ(PaintedBar(list, 2).width, 0);

    activity.m_now = start + 250;
    red = PaintedBar(list, 3);
    EXPECT_EQ(red.width, 15);
    EXPECT_EQ(red.bar,
              QColor((255 + background.red()) / 2, background.green() / 2, background.blue() / 2));
    EXPECT_TRUE(red.marginsBackground);
    grey = PaintedBar(list, 1);
    EXPECT_EQ(grey.width, 15);
    EXPECT_EQ(grey.bar, QColor((192 + background.red()) / 2, (192 + background.green()) / 2,
                               (192 + background.blue()) / 2));

    activity.m_now = start + 500;
    red = PaintedBar(list, 3);
    EXPECT_EQ(red.width, 0);
    EXPECT_TRUE(red.marginsBackground);
    EXPECT_EQ(PaintedBar(list, 1).width, 0);
}

TEST_F(TrackListTest, TheIdleRoutineMovesTheRepaintClockInStepsOfAtLeast33Ms) {
    OpenWithSong();
    m_window->m_idleTimer.stop();
    ManualClock::Install();
    ManualClock::Set(5000);
    m_window->OnKickIdle();
    EXPECT_EQ(m_window->Core().Activity().m_now.load(), 5000u);
    ManualClock::Set(5032);
    m_window->OnKickIdle();
    EXPECT_EQ(m_window->Core().Activity().m_now.load(), 5000u);
    ManualClock::Set(5033);
    m_window->OnKickIdle();
    EXPECT_EQ(m_window->Core().Activity().m_now.load(), 5033u);
    ManualClock::Uninstall();
}

}  // namespace
