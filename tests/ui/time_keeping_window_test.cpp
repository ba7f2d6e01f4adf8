// Keeping time in the main window: an exact speed beside the slider, the metronome from its box,
// its key and the context menu, the count-in, and both remembered with the window state.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "current_performance.h"
#include "engine/performance.h"
#include "ui/control_ids.h"
#include "ui/ui_state.h"
#include "ui_test_support.h"

namespace {

class TimeKeepingWindowTest : public WindowTest {
  protected:
    QString StateFile() const { return QString::fromStdString(m_path + "/state.conf"); }
    void OpenWindowWithState() {
        m_window = std::make_unique<TestWindow>(m_service, m_path);
        m_window->SetViewState(UiState(StateFile()));
        m_window->OnInitDialog();
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QSpinBox* Percent() const { return static_cast<QSpinBox*>(Control(ids::kSpeedPercent)); }
    QSlider* Slider() const { return static_cast<QSlider*>(Control(ids::kSpeedSlider)); }
    QCheckBox* Metronome() const { return static_cast<QCheckBox*>(Control(ids::kMetronome)); }
    QComboBox* CountIn() const { return static_cast<QComboBox*>(Control(ids::kCountIn)); }
};

TEST_F(TimeKeepingWindowTest, AnExactSpeedShowsBesideTheNearestSliderPosition) {
    WriteSongList({DemoSong(0)});
    OpenWindow();
    ClickSongRow(0);
    ASSERT_NE(Percent(), nullptr);
    EXPECT_EQ(Percent()->value(), 100);
    EXPECT_FALSE(Percent()->toolTip().isEmpty());

    Percent()->setValue(65);
    EXPECT_EQ(m_window->m_speedValue->text(), "x0.65");
    EXPECT_EQ(Slider()->value(), 0);  // between x0.5 and x0.8: the slower
    m_window->OnCommand(ids::kModelPerformance);
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 65);
    Percent()->setValue(140);
    EXPECT_EQ(Slider()->value(), 4);
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 140);

    // One of the slider's own speeds is the slider's again, and a move of the slider wins.
    Percent()->setValue(80);
    EXPECT_EQ(Slider()->value(), 1);
    EXPECT_EQ(m_window->m_speedValue->text(), "x0.8");
    Percent()->setValue(115);
    QTest::keyClick(Control(ids::kSongList), Qt::Key_Left);
    EXPECT_EQ(Slider()->value(), 3);
    EXPECT_EQ(Percent()->value(), 100);
    EXPECT_EQ(m_window->m_speedValue->text(), "x1.0");
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 100);

    // The new controls sit in the column of buttons without covering any other control.
    for (QWidget* mine : {static_cast<QWidget*>(Percent()), static_cast<QWidget*>(CountIn()),
                          static_cast<QWidget*>(Metronome())}) {
        EXPECT_LE(mine->geometry().right(), m_window->width());
        for (QWidget* other :
             m_window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (other != mine && other->isVisible()) {
                EXPECT_FALSE(mine->geometry().intersects(other->geometry()))
                    << mine->objectName().toStdString() << " covers "
                    << other->objectName().toStdString();
            }
        }
    }
}

TEST_F(TimeKeepingWindowTest, MetronomeAndCountInAreRememberedWithTheWindowState) {
    WriteSongList({DemoSong(0)});
    OpenWindowWithState();
    EXPECT_FALSE(Metronome()->isChecked());
    EXPECT_FALSE(Metronome()->toolTip().isEmpty());
    QTest::keyClick(Control(ids::kSongList), Qt::Key_F4);
    EXPECT_TRUE(Metronome()->isChecked());
    EXPECT_TRUE(m_window->Core().Metronome());

    // The context menu shows it ticked and turns it off.
    {
        WhenShown menus(WhenShown::PopupMenu, [](QWidget& shown) {
            auto& menu = static_cast<QMenu&>(shown);
            for (QAction* action : menu.actions()) {
                if (action->text() == QString::fromUtf8("メトロノーム(&M)")) {
                    EXPECT_TRUE(action->isChecked());
                    menu.setActiveAction(action);
                }
            }
            QTest::keyClick(&menu, Qt::Key_Return);
        });
        QTest::keyClick(Control(ids::kSettings), Qt::Key_F10, Qt::ShiftModifier);
        EXPECT_EQ(menus.Count(), 1);
    }
    EXPECT_FALSE(m_window->Core().Metronome());
    EXPECT_FALSE(Metronome()->isChecked());
    Metronome()->click();
    CountIn()->setCurrentIndex(2);
    EXPECT_EQ(m_window->Core().CountInBars(), 2);
    m_window.reset();

    EXPECT_EQ(ReadFile("setting.txt").find("etronome"), std::string::npos);
    OpenWindowWithState();
    EXPECT_TRUE(Metronome()->isChecked());
    EXPECT_TRUE(m_window->Core().Metronome());
    EXPECT_EQ(CountIn()->currentIndex(), 2);
    EXPECT_EQ(m_window->Core().CountInBars(), 2);
}

}  // namespace
