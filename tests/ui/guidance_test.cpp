// What the window tells a learner finding the way: the exact speed, a song to choose first, the
// song chosen last time, how to play without a MIDI keyboard, and a first window with room for
// the falling notes, whose lists grow with it.

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <map>

#include "song/song_list.h"
#include "ui/control_ids.h"
#include "ui/keyboard_panel.h"
#include "ui/note_view.h"
#include "ui/practice_results_window.h"
#include "ui/track_list_box.h"
#include "ui/ui_state.h"
#include "ui_test_support.h"

namespace {

class GuidanceTest : public WindowTest {
  protected:
    QString StateFile() const { return QString::fromStdString(m_path + "/state.conf"); }
    void OpenWithDemoSongs() {
        WriteSongList({DemoSong(0), DemoSong(1), DemoSong(2)});
        OpenWindow();
    }
    // The window as the program opens it, with its remembered state.
    void OpenWindowWithState() {
        m_window = std::make_unique<TestWindow>(m_service, m_path);
        m_window->SetViewState(UiState(StateFile()));
        m_window->OnInitDialog();
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }
};

TEST_F(GuidanceTest, TheExactSpeedStandsBesideTheSlider) {
    OpenWithDemoSongs();
    auto* slider = static_cast<QSlider*>(Control(ids::kSpeedSlider));
    const QLabel* value = m_window->m_speedValue;
    ASSERT_NE(value, nullptr);
    EXPECT_TRUE(value->isVisible());
    EXPECT_EQ(value->text(), "x1.0");
    // On the caption's line, right of it, over the slider.
    EXPECT_LT(value->geometry().bottom(), slider->geometry().top());
    EXPECT_GE(value->geometry().left(), slider->geometry().left());
    EXPECT_LE(value->geometry().right(), m_window->width());
    const char* expected[] = {"x0.9", "x0.8", "x0.5", "x0.5"};
    for (const char* text : expected) {
        QTest::keyClick(Control(ids::kSongList), Qt::Key_Left);
        EXPECT_EQ(value->text(), text);
    }
    slider->setValue(4);  // a mouse drag
    EXPECT_EQ(value->text(), "x1.2");
}

TEST_F(GuidanceTest, WithoutASongTheModeKeysAndTheHistoryAskForOne) {
    OpenWithDemoSongs();
    ASSERT_EQ(m_window->SelectedSongRow(), -1);
    QTest::keyClick(Control(ids::kAddSong), Qt::Key_F6);
    m_window->OnCommand(ids::kModelPerformance);
    m_window->OnPracticeHistory();
    EXPECT_EQ(m_window->m_messages, std::vector<std::string>(3, "曲を選択してください。"));
    EXPECT_EQ(m_window->Core().CurrentPlayState(), Stopped);
    EXPECT_FALSE(m_window->Results()->isVisible());

    ClickSongRow(1);
    m_window->m_messages.clear();
    m_window->OnCommand(ids::kModelPerformance);
    EXPECT_NE(m_window->Core().CurrentPlayState(), Stopped);
    EXPECT_TRUE(m_window->m_messages.empty());
}

TEST_F(GuidanceTest, TheSongSelectedLastIsSelectedAgainAtTheNextStart) {
    OpenWithDemoSongs();
    m_window->SetViewState(UiState(StateFile()));
    ClickSongRow(2);
    ClickSongRow(1);
    m_window->OnDestroy();
    m_window.reset();

    OpenWindowWithState();
    EXPECT_EQ(m_window->SelectedSongRow(), 1);
    EXPECT_GT(m_window->m_trackList->count(), 0) << "loaded, its tracks shown";
    EXPECT_TRUE(m_window->m_messages.empty());
    m_window->OnCommand(ids::kMyPaceLesson);  // plays at once
    EXPECT_NE(m_window->Core().CurrentPlayState(), Stopped);
    m_window->OnDestroy();
    m_window.reset();

    // Its file gone: nothing selected, and no error to greet the learner.
    QFile::remove(QString::fromStdString(m_path + "/02_yorokobi_no_uta.mid"));
    OpenWindowWithState();
    EXPECT_EQ(m_window->SelectedSongRow(), -1);
    EXPECT_TRUE(m_window->m_messages.empty());
}

TEST_F(GuidanceTest, TheNoticeOfNoInputDeviceCanBeSkippedAndTheScreenKeyboardSaysItPlays) {
    // The window as the learner meets it: its own message box, answered here.
    InMemoryMidiService noInput{{}, {"Digital Keyboard-1"}};
    auto open = [&](bool tick) {
        std::vector<QString> texts;
        WhenShown answer(WhenShown::ModalDialog, [&](QWidget& w) {
            auto& box = static_cast<QMessageBox&>(w);
            texts.push_back(box.text());
            ASSERT_NE(box.checkBox(), nullptr);
            EXPECT_EQ(box.checkBox()->text(), QString::fromUtf8("次回から表示しない"));
            box.checkBox()->setChecked(tick);
            box.button(QMessageBox::Ok)->click();
        });
        auto window = std::make_unique<CPelorvaneDlg>(noInput, m_path);
        window->SetViewState(UiState(StateFile()));
        window->OnInitDialog();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_TRUE(window->m_keyboardHint->isVisible());
        window->OnDestroy();
        return texts;
    };
    EXPECT_EQ(open(false),
              std::vector<QString>{QString::fromUtf8("MIDI入力デバイスがありません。")});
    EXPECT_EQ(open(true).size(), 1u);  // not ticked the first time: shown again
    EXPECT_TRUE(open(false).empty());
    EXPECT_TRUE(UiState(StateFile()).NoInputNoticeHidden());

    // The hint: one line over the keys, which take the rest and still play by mouse.
    auto window = std::make_unique<TestWindow>(noInput, m_path);
    window->OnInitDialog();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QLabel* hint = window->m_keyboardHint;
    CKeyboardPanel* keys = window->m_keyboard;
    ASSERT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(),
              QString::fromUtf8(
                  "MIDIキーボードがなくても、この鍵盤をマウスやパソコンのキーで弾けます。"));
    EXPECT_EQ(hint->geometry().bottom() + 1, keys->geometry().top());
    EXPECT_EQ(hint->width(), keys->width());
    EXPECT_LE(hint->sizeHint().width(), hint->width()) << "one line, whole";
    const QRect withHint = hint->geometry().united(keys->geometry());
    QTest::mousePress(keys, Qt::LeftButton, {}, keys->KeyPoint(60));
    EXPECT_EQ(keys->Look(60), CKeyboardPanel::Held);
    QTest::mouseRelease(keys, Qt::LeftButton, {}, keys->KeyPoint(60));
    window->OnDestroy();

    // With a keyboard on the input, no hint and the keys as tall as ever.
    OpenWindow();
    EXPECT_FALSE(m_window->m_keyboardHint->isVisible());
    EXPECT_EQ(m_window->m_keyboard->geometry(), withHint);
}

TEST_F(GuidanceTest, TheFirstWindowShowsTheFallingNotesAndItsListsGrowWithIt) {
    OpenWithDemoSongs();
    const QSize base = m_window->BaseSize();
    const QSize first = m_window->FirstStartSize(QSize(1920, 1040));
    EXPECT_GT(first.height(), base.height() + 200);
    EXPECT_GT(first.width(), base.width());
    // A small screen: as much as it holds, never less than the window always was.
    EXPECT_EQ(m_window->FirstStartSize(base + QSize(30, 60)), base + QSize(30, 60));
    EXPECT_EQ(m_window->FirstStartSize(QSize(400, 300)), base);

    const int valueOffset = m_window->m_speedValue->x() - Control(ids::kSpeedSlider)->x();
    const QRect songList = Control(ids::kSongList)->geometry();
    const QRect trackList = Control(ids::kTrackList)->geometry();
    std::map<int, int> rightColumn;
    for (int id : {ids::kAddSong, ids::kStop, ids::kSettings, ids::kSpeedSlider}) {
        rightColumn[id] = Control(id)->x();
    }
    m_window->resize(first);
    ASSERT_TRUE(WaitFor([&] { return m_window->size() == first; }));
    EXPECT_TRUE(m_window->m_noteView->isVisible());
    EXPECT_GT(m_window->m_noteView->height(), 200);
    const int grown = first.width() - base.width();
    EXPECT_EQ(Control(ids::kSongList)->width(), songList.width() + grown);
    EXPECT_EQ(Control(ids::kTrackList)->width(), trackList.width() + grown);
    // The right column stays beside the lists, at the window's right edge, as it always stood.
    for (int id : {ids::kAddSong, ids::kStop, ids::kSettings, ids::kSpeedSlider}) {
        EXPECT_EQ(Control(id)->x(), rightColumn[id] + grown) << id;
        EXPECT_GT(Control(id)->geometry().left(), Control(ids::kSongList)->geometry().right());
    }
    EXPECT_EQ(m_window->m_speedValue->x() - Control(ids::kSpeedSlider)->x(), valueOffset);
}

}  // namespace
