// The window's idle routine asleep while nothing moves, and what wakes it.

#include <QTest>

#include "engine_test_support.h"
#include "midi/device_opening.h"
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

    // So does anything the learner does, here a key that does nothing else.
    m_window->m_idleTimer.stop();
    ASSERT_TRUE(m_window->m_idleWake->Asleep());
    const uint64_t runs = m_window->m_idleRuns;
    QTest::keyClick(m_window->m_trackList, Qt::Key_Shift);
    EXPECT_TRUE(WaitFor([&] { return m_window->m_idleRuns > runs; }, 1000));
}

// Asleep, the routine has no timer of its own, not even to look at the devices: a keyboard
// pulled out while nothing plays is still told, woken by the device watcher.
TEST_F(IdleWakeTest, AStillWindowKeepsNoTimerYetALostKeyboardIsStillTold) {
    WriteSongList({DemoSong(0)});
    OpenWindow();
    m_window->OnKickIdle();
    ASSERT_TRUE(m_window->m_idleWake->Asleep());
    EXPECT_FALSE(m_window->m_idleTimer.isActive());
    m_service.DisconnectInput(0);
    ASSERT_TRUE(WaitFor([&] { return !m_window->m_messages.empty(); }, 5000));
    EXPECT_EQ(m_window->m_messages.back(), kInputLostNothingStoppedText);
}

}  // namespace
