// The screen keyboard: what it shows, by pixel, and playing a lesson on it by mouse and with the
// computer keyboard.

#include <QKeyEvent>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "clocked_window_test.h"
#include "engine/performance.h"
#include "midi_file_writer/smf_writer.h"
#include "platform/clock.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/keyboard_panel.h"
#include "ui/led_ctrl.h"
#include "ui/track_list_box.h"

namespace {

class KeyboardPanelTest : public ClockedWindowTest {
  protected:
    // A song of one chord, keys 60 and 64 at 500 ms, on the practised channel 1.
    void OpenWithChordSong(SmfWriter song = ChordSong()) {
        OpenWithSong(song, "chord.mid");
        panel = m_window->m_keyboard;
        panel->setFocus();
    }
    static SmfWriter ChordSong() {
        SmfWriter w;
        w.Note(500, 0, 60, 300).Note(500, 0, 64, 300);
        return w;
    }
    void PlayTo(uint32_t songMs) {
        for (int guard = 0; guard < 500 && !IsStopped() && SongTime() < songMs; ++guard) {
            Tick(10);
        }
    }
    bool IsStopped() const { return m_window->Core().CurrentPlayState() == Stopped; }
    // The colour the key shows after a refresh at clock value now.
    QColor Pixel(int key, uint32_t now = ManualClock::Get()) {
        panel->Refresh(now);
        return panel->grab().toImage().pixelColor(panel->KeyPoint(key));
    }
    static QColor Look(CKeyboardPanel::KeyLook look, int key) {
        return CKeyboardPanel::ColorOf(look, CKeyboardPanel::IsBlack(key));
    }
    void Click(int key, bool down) {
        if (down) {
            QTest::mousePress(panel, Qt::LeftButton, {}, panel->KeyPoint(key));
        } else {
            QTest::mouseRelease(panel, Qt::LeftButton, {}, panel->KeyPoint(key));
        }
    }
    int NoteOnsSent(int key) {
        int count = 0;
        for (uint32_t m : m_service.SentShort()) {
            count += ((m & 0xF0) == 0x90 && (m & 0x0F) != 0 && ((m >> 8) & 0x7F) == uint32_t(key) &&
                      (m >> 16) != 0)
                         ? 1
                         : 0;
        }
        return count;
    }

    CKeyboardPanel* panel = nullptr;
};

TEST_F(KeyboardPanelTest, SpansTheWindowBottomAndWidensToThePracticeNotes) {
    SmfWriter wide;
    wide.Note(0, 0, 30, 100).Note(200, 0, 100, 100).Note(300, 1, 10, 100);  // 10: not practised
    OpenWithChordSong(wide);
    EXPECT_EQ(panel->LowKey(), 24);
    EXPECT_EQ(panel->HighKey(), 108);
    const QRect geometry = panel->geometry();
    EXPECT_GE(geometry.top(), m_window->m_trackList->geometry().bottom());
    EXPECT_LE(geometry.bottom(), m_window->height());
    EXPECT_GT(geometry.width(), m_window->width() * 9 / 10);
    EXPECT_EQ(panel->KeyAt(panel->KeyPoint(61)), 61);
    EXPECT_EQ(panel->KeyAt(panel->KeyPoint(60)), 60);
}

TEST_F(KeyboardPanelTest, ALessonPlayedByMouseShowsFlashingLitHeldAndWrongKeys) {
    OpenWithChordSong();
    EXPECT_EQ(panel->LowKey(), 36);
    EXPECT_EQ(panel->HighKey(), 96);
    QTest::keyClick(panel, Qt::Key_F6);
    PlayTo(200);
    ASSERT_FALSE(IsStopped());

    // The chord's keys flash in the second before it: lit for 10 ms of every 32 ms.
    const uint32_t on = ManualClock::Get() & ~31u;
    EXPECT_EQ(Pixel(60, on), Look(CKeyboardPanel::Lit, 60));
    EXPECT_EQ(Pixel(64, on + 9), Look(CKeyboardPanel::Lit, 64));
    EXPECT_EQ(Pixel(60, on + 10), Look(CKeyboardPanel::Plain, 60));
    EXPECT_EQ(Pixel(64, on + 16), Look(CKeyboardPanel::Plain, 64));
    EXPECT_EQ(Pixel(62, on), Look(CKeyboardPanel::Plain, 62));

    PlayTo(500);
    ASSERT_TRUE(Waiting());
    EXPECT_EQ(Pixel(60, on + 16), Look(CKeyboardPanel::Lit, 60));
    EXPECT_EQ(Pixel(64), Look(CKeyboardPanel::Lit, 64));

    // A key outside the chord is wrong until released.
    Click(62, true);
    Tick(1);
    EXPECT_EQ(Pixel(62), Look(CKeyboardPanel::Wrong, 62));
    Click(62, false);
    Tick(1);
    EXPECT_EQ(Pixel(62), Look(CKeyboardPanel::Plain, 62));
    // A black key too.
    Click(61, true);
    Tick(1);
    EXPECT_EQ(Pixel(61), Look(CKeyboardPanel::Wrong, 61));
    Click(61, false);
    Tick(1);

    // One key after the other, as the lesson crosses off each on its own.
    m_service.ClearSent();
    Click(60, true);
    Tick(1);
    EXPECT_EQ(Pixel(60), Look(CKeyboardPanel::Held, 60));
    EXPECT_EQ(Pixel(64), Look(CKeyboardPanel::Lit, 64));
    EXPECT_EQ(NoteOnsSent(60), 1) << "the key sounds";
    Click(60, false);
    Tick(1);
    EXPECT_EQ(Pixel(60), Look(CKeyboardPanel::Plain, 60));
    EXPECT_TRUE(Waiting());
    Click(64, true);
    Tick(1);
    EXPECT_FALSE(Waiting());
    Click(64, false);
    PlayTo(2000);
    EXPECT_TRUE(IsStopped()) << "the song has ended";
}

TEST_F(KeyboardPanelTest, ALessonPlayedWithTheComputerKeyboardIgnoresKeyRepeat) {
    OpenWithChordSong();
    QTest::keyClick(panel, Qt::Key_F6);
    PlayTo(500);
    ASSERT_TRUE(Waiting());

    m_service.ClearSent();
    QTest::keyPress(panel, Qt::Key_W);  // D4: wrong
    QTest::keyPress(panel, Qt::Key_Q);  // C4: right
    Tick(1);
    EXPECT_EQ(Pixel(62), Look(CKeyboardPanel::Wrong, 62));
    EXPECT_EQ(Pixel(60), Look(CKeyboardPanel::Held, 60));
    // Held down, the key repeats as releases and presses; none of them counts.
    for (int i = 0; i < 3; ++i) {
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"), true);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"), true);
        QApplication::sendEvent(panel, &release);
        QApplication::sendEvent(panel, &press);
    }
    EXPECT_EQ(NoteOnsSent(60), 1);
    EXPECT_TRUE(TestKey(m_window->Core().ReadKeyState().held, 60));
    QTest::keyRelease(panel, Qt::Key_Q);
    QTest::keyRelease(panel, Qt::Key_W);
    Tick(1);
    EXPECT_TRUE(Waiting());
    QTest::keyPress(panel, Qt::Key_E);  // E4
    Tick(1);
    EXPECT_FALSE(Waiting());
    QTest::keyRelease(panel, Qt::Key_E);
    PlayTo(2000);
    EXPECT_TRUE(IsStopped());
}

TEST_F(KeyboardPanelTest, EveryCommandKeyWorksWithTheKeyboardFocused) {
    OpenWithChordSong();
    const struct {
        Qt::Key key;
        int led;
    } modes[] = {{Qt::Key_F5, 0}, {Qt::Key_F6, 1}, {Qt::Key_F7, 2}, {Qt::Key_F8, 3}};
    for (const auto& mode : modes) {
        QTest::keyClick(panel, mode.key);
        EXPECT_FALSE(IsStopped());
        EXPECT_TRUE(m_window->m_leds[mode.led]->m_lit) << mode.led;
    }
    QTest::keyClick(panel, Qt::Key_F9);
    EXPECT_TRUE(IsStopped());

    const int speed = m_window->m_speedSlider->value();
    QTest::keyClick(panel, Qt::Key_Left);
    EXPECT_EQ(m_window->m_speedSlider->value(), speed - 1);
    QTest::keyClick(panel, Qt::Key_Right);
    EXPECT_EQ(m_window->m_speedSlider->value(), speed);

    QTest::keyClick(panel, Qt::Key_Return);
    EXPECT_TRUE(panel->hasFocus());

    const int asked = m_window->m_fileAsks;
    QTest::keyClick(panel, Qt::Key_Insert);
    EXPECT_EQ(m_window->m_fileAsks, asked + 1);
    QTest::keyClick(panel, Qt::Key_Delete);
    EXPECT_TRUE(m_window->Core().Songs().m_entries.empty());

    // A note key plays and nothing else.
    QTest::keyClick(panel, Qt::Key_Z);
    EXPECT_TRUE(IsStopped());
    EXPECT_TRUE(panel->hasFocus());

    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_FALSE(m_window->isVisible());
}

// The computer keys play whichever control has the focus, but letters typed into the song list
// stay its own, and the specified keys keep their commands.
TEST_F(KeyboardPanelTest, TheComputerKeysPlayFromAnyControlButTheSongList) {
    OpenWithChordSong();
    EXPECT_FALSE(panel->toolTip().isEmpty());
    QWidget* stop = Control(ids::kStop);
    stop->setFocus();
    m_service.ClearSent();
    QTest::keyPress(stop, Qt::Key_Z);
    EXPECT_EQ(NoteOnsSent(48), 1);
    EXPECT_TRUE(TestKey(m_window->Core().ReadKeyState().held, 48));
    m_window->m_trackList->setFocus();  // the key-up finds the key wherever the focus went
    QTest::keyRelease(m_window->m_trackList, Qt::Key_Z);
    EXPECT_FALSE(TestKey(m_window->Core().ReadKeyState().held, 48));

    QTest::keyClick(m_window->m_trackList, Qt::Key_Q);
    EXPECT_EQ(NoteOnsSent(60), 1);
    m_window->m_songListBox->setFocus();
    QTest::keyClick(m_window->m_songListBox, Qt::Key_Q);
    EXPECT_EQ(NoteOnsSent(60), 1) << "typed into the song list";
    QTest::keyClick(stop, Qt::Key_F5);
    EXPECT_FALSE(IsStopped());
}

// The letters are laid out once and kept: a new font must still reach them, as it reaches a
// keyboard that never drew in the old one.
TEST_F(KeyboardPanelTest, TheComputerKeysLettersFollowANewFont) {
    OpenWithChordSong();
    panel->clearFocus();  // its mark would tell the two keyboards apart
    const QImage plain = panel->grab().toImage();
    QFont bold = panel->font();
    bold.setBold(true);
    panel->setFont(bold);
    const QImage after = panel->grab().toImage();

    CKeyboardPanel fresh(m_window->Core(), nullptr);
    fresh.SetKeyRange(panel->LowKey(), panel->HighKey());
    fresh.SetSplitMark(panel->SplitMark());
    fresh.setFont(bold);
    fresh.resize(panel->size());
    const QImage expected = fresh.grab().toImage();
    EXPECT_NE(after, plain);
    EXPECT_EQ(after, expected);
}

}  // namespace

// A measurement rather than a test (run with --gtest_also_run_disabled_tests): on the real clock,
// how long a mouse press on the screen takes to reach the input state, and to let the waiting
// lesson go on.
class KeyboardLatency : public WindowTest {};

TEST_F(KeyboardLatency, DISABLED_ClickToEngine) {
    constexpr int kChords = 40;
    SmfWriter song;
    for (int i = 0; i < kChords; ++i) {
        song.Note(300 + 150 * static_cast<uint32_t>(i), 0, 60, 100);
    }
    OpenWithSong(song, "latency.mid");
    CKeyboardPanel* panel = m_window->m_keyboard;
    panel->setFocus();
    QTest::keyClick(panel, Qt::Key_F6);
    std::vector<double> toInput, toLesson;
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < kChords; ++i) {
        ASSERT_TRUE(WaitFor([&] { return m_window->Core().ReadKeyState().awaited[0] != 0; }));
        const auto start = Clock::now();
        QTest::mousePress(panel, Qt::LeftButton, {}, panel->KeyPoint(60));
        const auto pressed = Clock::now();
        ASSERT_TRUE(TestKey(m_window->Core().ReadKeyState().held, 60));
        while (m_window->Core().ReadKeyState().awaited[0] != 0 &&
               Clock::now() - start < std::chrono::seconds(1)) {
        }
        const auto lessonOn = Clock::now();
        QTest::mouseRelease(panel, Qt::LeftButton, {}, panel->KeyPoint(60));
        toInput.push_back(std::chrono::duration<double, std::micro>(pressed - start).count());
        toLesson.push_back(std::chrono::duration<double, std::micro>(lessonOn - start).count());
    }
    std::sort(toInput.begin(), toInput.end());
    std::sort(toLesson.begin(), toLesson.end());
    printf("mouse press to key held: median %.0f us, max %.0f us\n", toInput[kChords / 2],
           toInput.back());
    printf("mouse press to lesson going on: median %.0f us, max %.0f us\n", toLesson[kChords / 2],
           toLesson.back());
}
