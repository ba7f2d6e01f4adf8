// The window's idle routine asleep while nothing moves, and what wakes it.

#include <QTest>

#include "clocked_window_test.h"
#include "engine_test_support.h"
#include "midi/device_opening.h"
#include "platform/clock.h"
#include "ui/control_ids.h"
#include "ui/idle_wake.h"
#include "ui/keyboard_panel.h"
#include "ui/note_view.h"
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

// Riding the falling notes' frames, the routine runs only every few display periods; a key the
// learner plays on the MIDI keyboard shows at once all the same, without waiting for a frame.
TEST_F(IdleWakeTest, AKeyPlayedWhileTheNotesFallShowsWithoutWaitingForAFrame) {
    WriteSongList({DemoSong(0)});
    OpenWindow();
    const QSize size = m_window->BaseSize() + QSize(200, 300);  // room for the falling notes
    m_window->resize(size);
    ASSERT_TRUE(WaitFor([&] { return m_window->size() == size; }, 1000));
    ClickSongRow(0);
    m_window->OnCommand(ids::kModelPerformance);
    ASSERT_TRUE(WaitFor([&] { return m_window->m_noteView->Animating(); }, 2000));
    m_window->OnKickIdle();
    ASSERT_FALSE(m_window->m_idleTimer.isActive()) << "the routine rides the frames";
    // From here no frame runs the routine: only the key can.
    QObject::disconnect(m_window->m_noteView, &CNoteView::frameDue, m_window.get(), nullptr);
    MidiKey(60, true);
    EXPECT_TRUE(
        WaitFor([&] { return m_window->m_keyboard->Look(60) == CKeyboardPanel::Held; }, 1000));
    m_window->OnCommand(ids::kStop);
}

class WaitingLessonTest : public ClockedWindowTest {};

// A lesson waiting for the learner stands as still as a stopped song once the activity bars have
// faded: the routine sleeps. The chord played wakes it, and a note of the accompaniment that
// sounds with it still shows its bar, though it played while the routine slept.
TEST_F(WaitingLessonTest, SleepsUntilTheChordIsPlayedAndTheNotesThenShowTheirBars) {
    SmfWriter song;
    song.Note(500, 0, 60, 300).Note(500, 1, 48, 300);
    OpenWithSong(song, "wait.mid");
    m_window->m_idleTimer.stop();  // the test runs the routine itself
    m_window->OnCommand(ids::kMyPaceLesson);
    m_window->m_idleTimer.stop();
    for (int guard = 0; guard < 100 && !Waiting(); ++guard) {
        Tick(10);
        m_window->OnKickIdle();
    }
    ASSERT_TRUE(Waiting());
    Tick(600);
    m_window->OnKickIdle();
    EXPECT_TRUE(m_window->m_idleWake->Asleep());
    EXPECT_FALSE(m_window->m_idleTimer.isActive());
    Tick(2000);  // the learner takes a while
    EXPECT_TRUE(m_window->m_idleWake->Asleep());

    const uint64_t runs = m_window->m_idleRuns;
    PlaySession::MidiInProc(nullptr, kMimData, &m_window->Core().Session(), Msg(0x90, 60, 64), 0);
    Tick(1);
    ASSERT_FALSE(Waiting());
    ASSERT_TRUE(WaitFor([&] { return m_window->m_idleRuns > runs; }, 1000));
    m_window->m_idleTimer.stop();
    const TrackActivity& activity = m_window->Core().Activity();
    int showing = 0;
    for (int row = 0; row < m_window->m_trackList->count(); ++row) {
        showing += ManualClock::Get() - activity.m_lastNoteTime[static_cast<size_t>(row)].load() <
                   CTrackListBox::kFadeMs;
    }
    EXPECT_EQ(showing, 1) << "the accompaniment's row shows its note";
}

}  // namespace
