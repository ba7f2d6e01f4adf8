// The window's idle routine asleep while nothing moves, and what wakes it.

#include <QTest>

#include "engine_test_support.h"
#include "ui/idle_wake.h"
#include "ui/keyboard_panel.h"
#include "ui/track_list_box.h"
#include "ui_test_support.h"

namespace {

class IdleWakeTest : public WindowTest {
  protected:
    void MidiKey(int key, bool down) {
        PlaySession::MidiInProc(nullptr, kMimData, &m_window->Core().Session(),
                                Msg(down ? 0x90 : 0x80, key, down ? 64 : 0), 0);
    }
};

TEST_F(IdleWakeTest, AStillWindowSleepsUntilAKeyOnTheMidiKeyboardWakesIt) {
    WriteSongList({DemoSong(0)});
    OpenWindow();
    CKeyboardPanel* keys = m_window->m_keyboard;
    m_window->OnKickIdle();
    ASSERT_TRUE(m_window->m_idleWake->Asleep());
    // Only a wake can run the routine from here.
    m_window->m_idleTimer.stop();
    MidiKey(60, true);
    EXPECT_TRUE(WaitFor([&] { return keys->Look(60) == CKeyboardPanel::Held; }, 1000));
    m_window->m_idleTimer.stop();
    ASSERT_TRUE(m_window->m_idleWake->Asleep()) << "asleep again once it has run";
    MidiKey(60, false);
    EXPECT_TRUE(WaitFor([&] { return keys->Look(60) == CKeyboardPanel::Plain; }, 1000));

    // So does anything the learner does, here a key that does nothing else: the routine, once
    // run, sets its timer going again.
    m_window->m_idleTimer.stop();
    ASSERT_TRUE(m_window->m_idleWake->Asleep());
    QTest::keyClick(m_window->m_trackList, Qt::Key_Shift);
    EXPECT_TRUE(WaitFor([&] { return m_window->m_idleTimer.isActive(); }, 1000));
}

}  // namespace
