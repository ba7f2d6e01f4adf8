// Accelerator keys, the speed keys, Enter and Esc, and the tooltips.

#include <QLabel>
#include <QSlider>
#include <QTest>

#include "current_performance.h"
#include "engine/performance.h"
#include "song/song_list.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/led_ctrl.h"
#include "ui/string_table.h"
#include "ui/track_list_box.h"
#include "ui_test_support.h"

namespace {

class KeysTest : public WindowTest {
  protected:
    void OpenWithSongs() {
        WriteSongList({DemoSong(0), DemoSong(1), DemoSong(2)});
        OpenWindow();
        ClickSongRow(0);
        ASSERT_EQ(m_window->m_trackList->count(), 3);
    }
    // Presses key with the focus in control id, as the user would.
    void Press(int id, int key) {
        QWidget* target = Control(id);
        target->setFocus();
        QTest::keyClick(target, static_cast<Qt::Key>(key));
    }
    int LitLed() const {
        int lit = -1;
        for (int i = 0; i < 4; ++i) {
            if (m_window->m_leds[i]->m_lit) {
                EXPECT_EQ(lit, -1) << "two LEDs lit";
                lit = i;
            }
        }
        return lit;
    }
    int Speed() {
        CheckedLock lock(m_window->Core().Session().PlayLock());
        return m_window->Core().Session().CurrentPerformance()
                   ? m_window->Core().Session().CurrentPerformance()->GetPlayer().SpeedPercent()
                   : -1;
    }
};

TEST_F(KeysTest, AcceleratorsWorkWhicheverControlHasTheFocus) {
    OpenWithSongs();
    const int focusIn[] = {ids::kAddSong, ids::kModelPerformance, ids::kSongList, ids::kTrackList,
                           ids::kSpeedSlider};
    for (int focus : focusIn) {
        SCOPED_TRACE(focus);
        const struct {
            int key;
            int led;
        } modes[] = {{Qt::Key_F5, 0}, {Qt::Key_F6, 1}, {Qt::Key_F7, 2}, {Qt::Key_F8, 3}};
        for (const auto& mode : modes) {
            Press(focus, mode.key);
            EXPECT_NE(m_window->Core().CurrentPlayState(), Stopped);
            EXPECT_EQ(LitLed(), mode.led);
        }
        Press(focus, Qt::Key_F9);
        EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);

        const int asked = m_window->m_fileAsks;
        Press(focus, Qt::Key_Insert);
        EXPECT_EQ(m_window->m_fileAsks, asked + 1);

        // A modifier makes it another key.
        QTest::keyClick(Control(focus), Qt::Key_F5, Qt::ControlModifier);
        EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);
    }
    // The song list keeps its selection through all of it.
    EXPECT_EQ(m_window->SelectedSongRow(), 0);

    // Delete with the focus on the slider removes the selected song.
    Press(ids::kSpeedSlider, Qt::Key_Delete);
    EXPECT_EQ(m_window->Core().Songs().m_entries.size(), 2u);
}

TEST_F(KeysTest, InsertAndDeleteStopASongThatPlays) {
    OpenWithSongs();
    Press(ids::kSongList, Qt::Key_F5);
    ASSERT_NE(m_window->Core().CurrentPlayState(), Stopped);
    m_service.ClearSent();
    Press(ids::kSongList, Qt::Key_Insert);
    EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);
    bool allSoundOff = false;
    for (uint32_t packed : m_service.SentShort()) {
        allSoundOff = allSoundOff || packed == PackShortMessage(0xB0, 0x78, 0);
    }
    EXPECT_TRUE(allSoundOff);

    Press(ids::kSongList, Qt::Key_F6);
    ASSERT_NE(m_window->Core().CurrentPlayState(), Stopped);
    Press(ids::kTrackList, Qt::Key_Delete);
    EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);
}

TEST_F(KeysTest, LeftAndRightStepTheSpeedFromAnyControlAndStopAtBothEnds) {
    OpenWithSongs();
    auto* slider = static_cast<QSlider*>(Control(ids::kSpeedSlider));
    EXPECT_EQ(slider->value(), 3);
    Press(ids::kModelPerformance, Qt::Key_F5);
    EXPECT_EQ(Speed(), 100);

    Press(ids::kSongList, Qt::Key_Left);
    EXPECT_EQ(slider->value(), 2);
    EXPECT_EQ(Speed(), 90);
    EXPECT_EQ(m_window->SelectedSongRow(), 0);  // the list did not move
    Press(ids::kTrackList, Qt::Key_Left);
    Press(ids::kSpeedSlider, Qt::Key_Left);
    EXPECT_EQ(Speed(), 50);
    Press(ids::kAddSong, Qt::Key_Left);  // already at the left end
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(Speed(), 50);

    for (int i = 0; i < 6; ++i) {
        Press(ids::kSongList, Qt::Key_Right);
    }
    EXPECT_EQ(slider->value(), 4);
    EXPECT_EQ(Speed(), 120);
    EXPECT_EQ(m_window->SelectedSongRow(), 0);
    EXPECT_NE(m_window->Core().CurrentPlayState(), Stopped);  // the song plays on

    // The slider itself applies every change at once.
    slider->setValue(1);
    EXPECT_EQ(Speed(), 80);
}

TEST_F(KeysTest, WithoutAPerformanceTheSliderOnlyMovesAndTheNextSongStartsAtItsSpeed) {
    OpenWithSongs();
    Press(ids::kSongList, Qt::Key_Left);
    EXPECT_EQ(PerformanceOf(m_window->Core()), nullptr);
    Press(ids::kSongList, Qt::Key_F5);
    EXPECT_EQ(Speed(), 90);
}

TEST_F(KeysTest, EnterPressesNothingAndKeepsTheFocus) {
    OpenWithSongs();
    for (int id : {ids::kModelPerformance, ids::kSettings, ids::kDeleteSong}) {
        Press(id, Qt::Key_Return);
        Press(id, Qt::Key_Enter);
        EXPECT_TRUE(Control(id)->hasFocus());
    }
    EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);
    EXPECT_EQ(LitLed(), -1);
    EXPECT_EQ(m_window->m_modalRuns, 0);
    EXPECT_EQ(m_window->Core().Songs().m_entries.size(), 3u);
    EXPECT_TRUE(m_window->isVisible());
}

TEST_F(KeysTest, EscClosesTheWindowAndBothFilesAreWritten) {
    OpenWithSongs();
    Press(ids::kSongList, Qt::Key_F5);
    Press(ids::kSongList, Qt::Key_Escape);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), QDialog::Rejected);
    // What the program does once the window's loop returns.
    m_window->OnDestroy();
    EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);
    EXPECT_NE(ReadFile("songlist.txt").find("01_kirakiraboshi.mid"), std::string::npos);
    m_window.reset();
    EXPECT_EQ(ReadFile("setting.txt"),
              "Pelorvane:1.0\r\nInMidiDeviceName:Digital Keyboard-1\r\n"
              "OutMidiDeviceName:Digital Keyboard-1\r\n");
}

TEST_F(KeysTest, TooltipsComeFromTheStringTableAndOtherControlsShowNone) {
    OpenWindow();
    const std::pair<int, const char*> expected[] = {
        {1005, "曲一覧。演奏したい曲を選択します。"},
        {1006, "MIDIファイル選んで曲を一覧に追加します。[INSERT]"},
        {1007, "曲を再生します。全てのトラックが再生されます。[F5]"},
        {1008, "自分の演奏を待ちながら曲を再生します。全てのトラックが再生されます。[F6]"},
        {1009, "練習トラックでないトラックが再生されます。[F7]"},
        {1010, "曲の再生を停止します。[F9]"},
        {1011, "MIDIやアプリケーションを設定します。"},
        {1012, "練習トラックのみが再生されます。[F8]"},
        {1013, "選択されている曲を削除します。[DELETE]"},
        {1047, "トラック一覧。練習したいトラックをチェックします。"},
        {1048, "曲の再生速度を変更します。[←][→]"},
    };
    for (const auto& [id, text] : expected) {
        ASSERT_NE(Control(id), nullptr) << id;
        EXPECT_EQ(Control(id)->toolTip().toStdString(), text) << id;
        EXPECT_LT(Control(id)->toolTip().size(), 80) << id;
    }
    for (int id : ids::kLed) {
        EXPECT_TRUE(Control(id)->toolTip().isEmpty()) << id;
    }
    for (QLabel* label : m_window->findChildren<QLabel*>()) {
        EXPECT_TRUE(label->toolTip().isEmpty()) << label->text().toStdString();
    }
    EXPECT_EQ(LoadString(101).toStdString(), "バージョン情報 Pelorvane(&A)...");
}

TEST_F(KeysTest, EveryControlIsEnabledVisibleAndInTemplateTabOrder) {
    OpenWindow();
    const int order[] = {1006, 1013, 1007, 1008, 1009, 1012, 1010, 1048, 1011, 1005, 1047};
    QWidget* widget = Control(order[0]);
    for (int id : order) {
        ASSERT_NE(Control(id), nullptr) << id;
        EXPECT_TRUE(Control(id)->isEnabled()) << id;
        EXPECT_TRUE(Control(id)->isVisible()) << id;
        EXPECT_EQ(widget, Control(id)) << id;
        widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus || !Control(widget->objectName().toInt())) {
            widget = widget->nextInFocusChain();
        }
    }
    EXPECT_TRUE(Control(1006)->hasFocus());
    // It opens at its smallest size, the size it always had, and may grow.
    EXPECT_EQ(m_window->size(), m_window->minimumSize());
    EXPECT_GT(m_window->maximumSize().width(), m_window->size().width());
    EXPECT_GT(m_window->maximumSize().height(), m_window->size().height());
}

}  // namespace
