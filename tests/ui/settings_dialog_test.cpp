// The settings command and its dialog.

#include <QComboBox>
#include <QTest>

#include "current_performance.h"
#include "engine/performance.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/setting_dialog.h"
#include "ui_test_support.h"

namespace {

class SettingsTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_service.SetInputNames({"Other Keyboard", "Digital Keyboard-1"});
        m_service.SetOutputNames({"Synth", "Digital Keyboard-1"});
        WriteSongList({DemoSong(0)});
        OpenWindow();
        ClickSongRow(0);
        // A performance exists and plays.
        QTest::mouseClick(Control(ids::kModelPerformance), Qt::LeftButton);
        ASSERT_NE(PerformanceOf(m_window->Core()), nullptr);
        m_service.ClearOperations();
    }

    // Opens the settings with a test hand on the dialog; records what it preselected.
    void RunSettings(const std::function<int(CSettingDialog&)>& act) {
        m_window->m_onModal = [&](QDialog& dialog) {
            auto& settings = dynamic_cast<CSettingDialog&>(dialog);
            m_inShown = settings.m_inCombo->currentIndex();
            m_outShown = settings.m_outCombo->currentIndex();
            m_inItems = settings.m_inCombo->count();
            return act(settings);
        };
        QTest::mouseClick(Control(ids::kSettings), Qt::LeftButton);
    }
    static int PressOk(CSettingDialog& dialog) {
        dialog.accept();
        return dialog.result();
    }

    int m_inShown = -2;
    int m_outShown = -2;
    int m_inItems = -1;
};

TEST_F(SettingsTest, PreselectsTheCurrentDevicesAndCancelChangesNothing) {
    const Performance* before = PerformanceOf(m_window->Core());
    RunSettings([](CSettingDialog& dialog) {
        dialog.m_inCombo->setCurrentIndex(0);
        dialog.reject();
        return dialog.result();
    });
    EXPECT_EQ(m_inShown, 1);
    EXPECT_EQ(m_outShown, 1);
    EXPECT_EQ(m_inItems, 2);
    EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);  // opening stopped the song
    EXPECT_EQ(m_window->Core().InDeviceName(), "Digital Keyboard-1");
    EXPECT_EQ(PerformanceOf(m_window->Core()), before);
    EXPECT_TRUE(m_service.Operations().empty());
}

TEST_F(SettingsTest, OkWithTheSameNamesReopensNothing) {
    const Performance* before = PerformanceOf(m_window->Core());
    RunSettings(&PressOk);
    EXPECT_EQ(PerformanceOf(m_window->Core()), before);
    EXPECT_TRUE(m_service.Operations().empty());
}

TEST_F(SettingsTest, OkWithAnotherNameReopensBothDevicesAndDropsThePerformance) {
    RunSettings([](CSettingDialog& dialog) {
        dialog.m_outCombo->setCurrentIndex(0);
        return PressOk(dialog);
    });
    EXPECT_EQ(m_window->Core().OutDeviceName(), "Synth");
    EXPECT_EQ(m_window->Core().InDeviceName(), "Digital Keyboard-1");
    EXPECT_EQ(PerformanceOf(m_window->Core()), nullptr);
    const auto ops = m_service.Operations();
    EXPECT_NE(std::find(ops.begin(), ops.end(), "open-out 0"), ops.end());
    EXPECT_NE(std::find(ops.begin(), ops.end(), "open-in 1"), ops.end());

    // Saved at exit.
    m_window->OnDestroy();
    m_window.reset();
    EXPECT_NE(ReadFile("setting.txt").find("OutMidiDeviceName:Synth\r\n"), std::string::npos);
}

TEST_F(SettingsTest, AVanishedDeviceIsReplacedByDeviceZeroOnOk) {
    m_service.SetInputNames({"New Keyboard"});
    RunSettings(&PressOk);
    EXPECT_EQ(m_inShown, 0);
    EXPECT_EQ(m_window->Core().InDeviceName(), "New Keyboard");
    EXPECT_EQ(PerformanceOf(m_window->Core()), nullptr);
}

TEST_F(SettingsTest, WithoutInputDevicesTheListIsEmptyAndOkGivesAnEmptyName) {
    m_service.SetInputNames({});
    RunSettings(&PressOk);
    EXPECT_EQ(m_inItems, 0);
    EXPECT_EQ(m_inShown, -1);
    EXPECT_EQ(m_window->Core().InDeviceName(), "");
}

}  // namespace
