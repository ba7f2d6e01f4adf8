// The mode LEDs: which one lights, when it goes dark, and how its image is drawn.

#include <QImage>
#include <QTest>

#include "engine/performance.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/led_ctrl.h"
#include "ui_test_support.h"

namespace {

class LedTest : public WindowTest {
  protected:
    std::vector<int> Lit() const {
        std::vector<int> lit;
        for (CLEDCtrl* led : m_window->m_leds) {
            lit.push_back(led->m_lit);
        }
        return lit;
    }
};

TEST_F(LedTest, TheModeButtonsLightTheirLedAndStopDarkensItAtTheNextIdleRun) {
    WriteSongList({DemoSong(0)});
    OpenWindow();
    m_window->m_idleTimer.stop();

    // No song selected: nothing starts and nothing lights.
    QTest::mouseClick(Control(ids::kModelPerformance), Qt::LeftButton);
    EXPECT_EQ(Lit(), (std::vector<int>{0, 0, 0, 0}));

    ClickSongRow(0);
    QTest::mouseClick(Control(ids::kModelPerformance), Qt::LeftButton);
    EXPECT_EQ(Lit(), (std::vector<int>{1, 0, 0, 0}));
    QTest::mouseClick(Control(ids::kMyPaceLesson), Qt::LeftButton);
    EXPECT_EQ(Lit(), (std::vector<int>{0, 1, 0, 0}));
    QTest::mouseClick(Control(ids::kSolo), Qt::LeftButton);
    EXPECT_EQ(Lit(), (std::vector<int>{0, 0, 0, 1}));
    QTest::mouseClick(Control(ids::kAccompaniment), Qt::LeftButton);
    EXPECT_EQ(Lit(), (std::vector<int>{0, 0, 1, 0}));

    QTest::mouseClick(Control(ids::kStop), Qt::LeftButton);
    EXPECT_EQ(Lit(), (std::vector<int>{0, 0, 1, 0}));  // until the idle routine runs
    m_window->OnKickIdle();
    EXPECT_EQ(Lit(), (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(LedTest, ALedGoesDarkByItselfWhenTheSongEnds) {
    WriteSongList({DemoSong(0)});
    OpenWindow();
    ClickSongRow(0);
    QTest::mouseClick(Control(ids::kModelPerformance), Qt::LeftButton);
    ASSERT_EQ(Lit(), (std::vector<int>{1, 0, 0, 0}));
    // The clock thread ends the song; jumping the speed up makes that quick.
    for (int i = 0; i < 2; ++i) {
        QTest::keyClick(Control(ids::kSongList), Qt::Key_Right);
    }
    {
        CheckedLock lock(m_window->Core().Session().PlayLock());
        ASSERT_NE(m_window->Core().Session().CurrentPerformance(), nullptr);
        Performance& p = *m_window->Core().Session().CurrentPerformance();
        p.MoveTo(p.GetTimeline().Size(), p.SongTime());
    }
    EXPECT_TRUE(WaitFor([&] { return Lit() == std::vector<int>{0, 0, 0, 0}; }));
    EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);
}

TEST_F(LedTest, TheImageIsDrawnUnscaledAtTheTopLeft) {
    OpenWindow();
    CLEDCtrl* led = m_window->m_leds[1];
    ASSERT_EQ(led->m_imgOn.size(), QSize(10, 32));
    ASSERT_EQ(led->m_imgOff.size(), QSize(10, 32));
    EXPECT_EQ(led->m_stretch, 0);
    // Body colours of the two images.
    EXPECT_EQ(led->m_imgOn.pixelColor(5, 16), QColor(120, 255, 0));
    EXPECT_EQ(led->m_imgOff.pixelColor(5, 16), QColor(41, 87, 0));

    const QRect client = led->contentsRect();
    for (uint8_t lit : {uint8_t{0}, uint8_t{1}}) {
        led->m_lit = lit;
        const QImage shown = led->grab().toImage();
        const QImage& image = lit ? led->m_imgOn : led->m_imgOff;
        for (QPoint p : {QPoint(0, 0), QPoint(5, 16), QPoint(9, 31), QPoint(3, 30)}) {
            EXPECT_EQ(shown.pixelColor(client.topLeft() + p), image.pixelColor(p))
                << p.x() << "," << p.y();
        }
        // Below the image the control shows its background, not a stretched image.
        if (client.height() > 33) {
            EXPECT_NE(shown.pixelColor(client.left() + 5, client.top() + 33),
                      image.pixelColor(5, 16));
        }
    }
}

}  // namespace
