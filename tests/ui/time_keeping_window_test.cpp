// Keeping time in the main window: an exact speed beside the slider, the metronome from its box,
// its key and the context menu, the count-in, and both remembered with the window state.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "current_performance.h"
#include "engine/performance.h"
#include "smf/meter_map.h"
#include "ui/control_ids.h"
#include "ui/practice_results_window.h"
#include "ui/tempo_trainer_dialog.h"
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
    QTest::keyClick(Control(ids::kSongList), Qt::Key_F12);
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

namespace {

// A pass of the loop as the 練習結果 window hands it over once scored.
void HandOverPass(TestWindow& window, LoopSpan loop, int speed, double accuracy) {
    PracticeRun run;
    run.mode = PlayMode::Accompaniment;
    run.speedPercent = speed;
    run.startSongMs = loop.a;
    run.endSongMs = loop.b - 1;
    run.extra = 1;  // something played
    PracticeSummary summary;
    summary.scored = true;
    summary.accuracy = accuracy;
    window.Results()->m_onScored(run, summary);
}

TEST_F(TimeKeepingWindowTest, AHardBarsButtonTrainsItsLoopFasterUpToTheGoal) {
    WriteSongList({DemoSong(0)});
    OpenWindow();
    ClickSongRow(0);
    RecordedRun r;
    r.run.mode = PlayMode::Accompaniment;
    r.run.songPath = DemoSong(0);
    r.summary.scored = true;
    r.hardestBars = {2};
    auto meter = std::make_shared<smf::MeterMap>();
    m_window->Results()->ShowRun(r, meter);
    ASSERT_EQ(m_window->Results()->TrainerButtons().size(), 1u);
    EXPECT_EQ(m_window->Results()->TrainerButtons()[0]->text(),
              QString::fromUtf8("第2小節をだんだん速く"));
    QTest::mouseClick(m_window->Results()->TrainerButtons()[0], Qt::LeftButton);
    ASSERT_TRUE(m_window->Trainer().Active());
    const LoopSpan loop = *m_window->Core().Loop();
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 60);
    EXPECT_EQ(Percent()->value(), 60);
    EXPECT_EQ(Slider()->value(), 0);

    // A good pass, a poor one, then good ones to the goal.
    m_window->Core().StopPlay();
    HandOverPass(*m_window, loop, 60, 0.95);
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 65);
    EXPECT_NE(m_window->Core().CurrentPlayState(), Stopped);
    m_window->Core().StopPlay();
    HandOverPass(*m_window, loop, 65, 0.5);
    EXPECT_EQ(Percent()->value(), 60);
    EXPECT_TRUE(m_window->Results()->TrainerText().contains(
        QString::fromUtf8("60%（正確さ 95%） → 65%（正確さ 50%）")))
        << m_window->Results()->TrainerText().toStdString();
    EXPECT_TRUE(
        m_window->Results()->TrainerText().contains(QString::fromUtf8("到達した速さ: 60%")));
    for (int speed = 60; m_window->Trainer().Active(); speed += 5) {
        ASSERT_LE(speed, 100);
        m_window->Core().StopPlay();
        HandOverPass(*m_window, loop, speed, 1.0);
    }
    EXPECT_EQ(
        m_window->m_messages,
        std::vector<std::string>{"目標の速さ 100% に到達しました。だんだん速くを終わります。"});
    EXPECT_TRUE(
        m_window->Results()->TrainerText().contains(QString::fromUtf8("到達した速さ: 100%")));

    // Stop ends a training under way.
    QTest::mouseClick(m_window->Results()->TrainerButtons()[0], Qt::LeftButton);
    ASSERT_TRUE(m_window->Trainer().Active());
    m_window->OnCommand(ids::kStop);
    EXPECT_FALSE(m_window->Trainer().Active());
}

TEST_F(TimeKeepingWindowTest, TrainerPlanAndLoopCountInAreCheckedAndRememberedWithTheWindowState) {
    WriteSongList({DemoSong(0)});
    OpenWindowWithState();
    ClickSongRow(0);
    // ループの毎回カウント in the context menu: only with a count-in to repeat.
    auto chooseEachPass = [&](bool enabled) {
        WhenShown menus(WhenShown::PopupMenu, [enabled](QWidget& shown) {
            auto& menu = static_cast<QMenu&>(shown);
            for (QAction* action : menu.actions()) {
                if (action->text() == QString::fromUtf8("ループの毎回カウント(&L)")) {
                    EXPECT_EQ(action->isEnabled(), enabled);
                    EXPECT_FALSE(action->isChecked());
                    menu.setActiveAction(action);
                }
            }
            QTest::keyClick(&menu, Qt::Key_Return);
        });
        QTest::keyClick(Control(ids::kSettings), Qt::Key_F10, Qt::ShiftModifier);
        EXPECT_EQ(menus.Count(), 1);
    };
    chooseEachPass(false);
    EXPECT_FALSE(m_window->Core().LoopCountIn());
    CountIn()->setCurrentIndex(1);
    chooseEachPass(true);
    EXPECT_TRUE(m_window->Core().LoopCountIn());

    RecordedRun r;
    r.run.mode = PlayMode::Accompaniment;
    r.run.songPath = DemoSong(0);
    r.summary.scored = true;
    r.hardestBars = {2};
    m_window->Results()->ShowRun(r, std::make_shared<smf::MeterMap>());
    QPushButton* settings = m_window->Results()->TrainerSettingsButton();
    ASSERT_TRUE(settings->isVisible());
    // Each plan that cannot be trained is refused with its reason, and the dialog stays.
    std::vector<QString> refusals;
    {
        WhenShown dialogs(WhenShown::ModalDialog, [&](QWidget& shown) {
            auto* dialog = qobject_cast<CTempoTrainerDialog*>(&shown);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->Plan().start, 60);
            auto box = [&](const char* name) { return dialog->findChild<QSpinBox*>(name); };
            box("start")->setValue(80);
            box("goal")->setValue(70);
            dialog->accept();
            refusals.push_back(dialog->Refusal());
            box("goal")->setValue(120);
            box("start")->setValue(63);  // typed between the steps
            dialog->accept();
            refusals.push_back(dialog->Refusal());
            box("start")->setValue(70);
            box("lowerAt")->setValue(95);
            dialog->accept();
            refusals.push_back(dialog->Refusal());
            EXPECT_TRUE(dialog->isVisible());
            box("lowerAt")->setValue(60);
            box("step")->setValue(10);
            dialog->accept();
            EXPECT_TRUE(dialog->Refusal().isEmpty());
        });
        QTest::mouseClick(settings, Qt::LeftButton);
        EXPECT_EQ(dialogs.Count(), 1);
    }
    EXPECT_EQ(refusals,
              (std::vector<QString>{TrainerPlanFaultText(TrainerPlanFault::GoalBelowStart),
                                    TrainerPlanFaultText(TrainerPlanFault::Speed),
                                    TrainerPlanFaultText(TrainerPlanFault::Thresholds)}));
    m_window.reset();

    EXPECT_EQ(ReadFile("setting.txt").find("rainer"), std::string::npos);
    OpenWindowWithState();
    ClickSongRow(0);
    EXPECT_TRUE(m_window->Core().LoopCountIn());
    m_window->Results()->ShowRun(r, std::make_shared<smf::MeterMap>());
    QTest::mouseClick(m_window->Results()->TrainerButtons()[0], Qt::LeftButton);
    ASSERT_TRUE(m_window->Trainer().Active());
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 70);
    EXPECT_EQ(m_window->Results()->TrainerText(),
              QString::fromUtf8("だんだん速く: 70% から始めます（目標 120%）"));
    const LoopSpan loop = *m_window->Core().Loop();
    m_window->Core().StopPlay();
    HandOverPass(*m_window, loop, 70, 0.9);  // good enough: one step of ten up
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 80);
    m_window->Core().StopPlay();
    HandOverPass(*m_window, loop, 80, 0.62);  // below 60% only it would slow down
    EXPECT_EQ(PerformanceOf(m_window->Core())->GetPlayer().SpeedPercent(), 80);
}

}  // namespace
