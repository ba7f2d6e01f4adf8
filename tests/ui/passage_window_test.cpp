// The position bar in the main window: each song's place and loop remembered between runs, and
// the keys that move the place and set the loop.

#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include "current_performance.h"
#include "engine/performance.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/hand_choice.h"
#include "ui/keyboard_panel.h"
#include "ui/note_view.h"
#include "ui/passage_memory.h"
#include "ui/position_bar.h"
#include "ui_test_support.h"

namespace {

class PassageWindowTest : public WindowTest {
  protected:
    std::string MemoryPath() const { return m_path + "/passages.conf"; }
    void OpenWithMemory() {
        m_window = std::make_unique<TestWindow>(m_service, m_path);
        m_window->SetPassageMemory(PassageMemory(QString::fromStdString(MemoryPath())));
        m_window->OnInitDialog();
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }
    CPositionBar* Bar() const { return m_window->m_positionBar; }
    void Key(QWidget* target, int key) { QTest::keyClick(target, static_cast<Qt::Key>(key)); }
};

TEST_F(PassageWindowTest, APlaceAndALoopComeBackWithTheirSongInTheNextRun) {
    WriteSongList({DemoSong(0), DemoSong(1)});
    OpenWithMemory();
    ClickSongRow(0);
    ASSERT_NE(Bar()->Meter(), nullptr);
    const smf::MeterMap meter = *Bar()->Meter();  // a copy: the window goes
    EXPECT_EQ(m_window->Core().ShownSongTime(), 0u) << "a song never moved starts at its beginning";

    // A loop away from the place moves it to A.
    m_window->OnLoopChange(LoopSpan{meter.BarStartMs(2), meter.BarStartMs(4)});
    EXPECT_EQ(m_window->Core().ShownSongTime(), meter.BarStartMs(2));
    // A click in the groove while stopped sets where the next start begins.
    const QPoint inside(Bar()->XOf(meter.BarStartMs(3)), Bar()->GrooveRect().center().y());
    QTest::mouseClick(Bar(), Qt::LeftButton, {}, inside);
    const uint32_t place = m_window->Core().ShownSongTime();
    EXPECT_EQ(place, Bar()->MsAt(inside.x()));
    EXPECT_GT(place, meter.BarStartMs(2));

    ClickSongRow(1);
    EXPECT_EQ(m_window->Core().ShownSongTime(), 0u);
    EXPECT_FALSE(m_window->Core().Loop().has_value()) << "the loop belongs to the other song";
    ClickSongRow(0);
    EXPECT_EQ(m_window->Core().ShownSongTime(), place);
    EXPECT_EQ(Bar()->Loop(), (LoopSpan{meter.BarStartMs(2), meter.BarStartMs(4)}));

    m_window.reset();
    OpenWithMemory();
    ClickSongRow(0);
    EXPECT_EQ(m_window->Core().ShownSongTime(), place);
    EXPECT_EQ(m_window->Core().Loop(), (LoopSpan{meter.BarStartMs(2), meter.BarStartMs(4)}));
    // The song list file is as it always was.
    EXPECT_EQ(ReadFile("songlist.txt").find("passage"), std::string::npos);
}

// A song prepared on a worker shows its place once ready; a start right after choosing it
// waits for it, and plays that song from its place.
TEST_F(PassageWindowTest, ASongPreparedAsideStartsAtOnceFromItsPlace) {
    WriteSongList({DemoSong(0), DemoSong(1)});
    OpenWithMemory();
    ClickSongRow(0);
    ASSERT_NE(Bar()->Meter(), nullptr);
    const uint32_t place = Bar()->Meter()->BarStartMs(2);
    m_window->OnLoopChange(LoopSpan{place, Bar()->Meter()->BarStartMs(4)});
    m_window->Core().PrepareAsideFrom(0);
    ClickSongRow(1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return Bar()->Meter() != nullptr; }));
    EXPECT_EQ(m_window->Core().ShownSongTime(), 0u);
    ClickSongRow(0);
    m_window->OnCommand(ids::kModelPerformance);
    ASSERT_NE(m_window->Core().CurrentPlayState(), Stopped);
    const Performance* p = PerformanceOf(m_window->Core());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Prepared().Song(), m_window->Core().Songs().m_entries[0].m_midiData);
    EXPECT_EQ(m_window->Core().PassageStart(), place);
    EXPECT_EQ(Bar()->Meter(), p->Prepared().Meter().get());
    m_window->OnCommand(ids::kStop);
}

TEST_F(PassageWindowTest, ADamagedMemoryIsIgnoredAndReplaced) {
    WriteSongList({DemoSong(0)});
    std::ofstream(MemoryPath(), std::ios::binary) << "[song-\x01\xff\n\x00garbage=\"\n";
    OpenWithMemory();
    ClickSongRow(0);
    EXPECT_EQ(m_window->Core().ShownSongTime(), 0u);
    m_window->OnLoopChange(LoopSpan{1000, 3000});
    m_window.reset();
    OpenWithMemory();
    ClickSongRow(0);
    EXPECT_EQ(m_window->Core().Loop(), (LoopSpan{1000, 3000}));
}

TEST_F(PassageWindowTest, HomePageKeysAndLoopKeysMoveThePlaceButTheListsKeepTheirKeys) {
    WriteSongList({DemoSong(0), DemoSong(1), DemoSong(2)});
    OpenWithMemory();
    ClickSongRow(0);
    const smf::MeterMap meter = *Bar()->Meter();  // a copy: the window goes
    QWidget* button = Control(ids::kStop);
    button->setFocus();

    Key(button, Qt::Key_PageDown);
    EXPECT_EQ(m_window->Core().ShownSongTime(), meter.BarStartMs(2));
    Key(button, Qt::Key_PageDown);
    EXPECT_EQ(m_window->Core().ShownSongTime(), meter.BarStartMs(3));
    Key(button, Qt::Key_BracketLeft);  // A here
    Key(button, Qt::Key_PageDown);
    Key(button, Qt::Key_PageDown);
    Key(button, Qt::Key_BracketRight);  // B two bars on, where the place is: back to A
    EXPECT_EQ(m_window->Core().Loop(), (LoopSpan{meter.BarStartMs(3), meter.BarStartMs(5)}));
    EXPECT_EQ(Bar()->Loop(), m_window->Core().Loop());
    EXPECT_EQ(m_window->Core().ShownSongTime(), meter.BarStartMs(3));
    Key(button, Qt::Key_PageDown);
    Key(button, Qt::Key_PageUp);
    EXPECT_EQ(m_window->Core().ShownSongTime(), meter.BarStartMs(3));
    Key(button, Qt::Key_Home);
    EXPECT_EQ(m_window->Core().ShownSongTime(), 0u);
    Key(button, Qt::Key_BracketRight);  // B at the start: refused, the loop kept
    EXPECT_EQ(m_window->Core().Loop(), (LoopSpan{meter.BarStartMs(3), meter.BarStartMs(5)}));
    EXPECT_FALSE(Bar()->LastRefusal().isEmpty());
    Key(button, Qt::Key_PageUp);
    EXPECT_EQ(m_window->Core().ShownSongTime(), 0u) << "nothing before the first bar";
    Key(button, Qt::Key_Backslash);
    EXPECT_FALSE(m_window->Core().Loop().has_value());

    // In the song list, Page Down still moves the selection.
    m_window->m_songListBox->setFocus();
    Key(m_window->m_songListBox, Qt::Key_PageDown);
    EXPECT_EQ(m_window->Core().ShownSongTime(), 0u);
    EXPECT_EQ(m_window->SelectedSongRow(), 2);
}

}  // namespace

namespace {

// F3 and F4 choose the hand, the keyboard's menu the split key; both come back with their song,
// and another song starts with both hands at middle C.
TEST_F(PassageWindowTest, TheHandAndTheSplitKeyComeBackWithTheirSong) {
    WriteSongList({DemoSong(0), DemoSong(1)});
    OpenWithMemory();
    ClickSongRow(0);
    Key(m_window->m_keyboard, Qt::Key_F3);
    EXPECT_EQ(m_window->Core().PracticeHand(), Hand::Right);
    EXPECT_EQ(m_window->m_noteView->Practice().hand, Hand::Right);
    emit m_window->m_keyboard->splitRequested(55);
    EXPECT_EQ(m_window->Core().SplitKey(), 55);
    Key(m_window->m_keyboard, Qt::Key_F4);
    EXPECT_EQ(m_window->Core().PracticeHand(), Hand::Left);

    ClickSongRow(1);
    EXPECT_EQ(m_window->Core().PracticeHand(), Hand::Both);
    EXPECT_EQ(m_window->Core().SplitKey(), 60);
    EXPECT_EQ(m_window->m_noteView->Practice().hand, Hand::Both);

    m_window.reset();
    OpenWithMemory();
    ClickSongRow(0);
    EXPECT_EQ(m_window->Core().PracticeHand(), Hand::Left);
    EXPECT_EQ(m_window->Core().SplitKey(), 55);
    EXPECT_EQ(m_window->m_noteView->Practice().hand, Hand::Left);
    EXPECT_EQ(ReadFile("songlist.txt").find("hand"), std::string::npos);
}

}  // namespace

namespace {

// The 両手 / 右手 / 左手 buttons show the one hand the window holds, whichever way it was chosen,
// and choose it themselves; their tooltips name the keys.
TEST_F(PassageWindowTest, TheHandButtonsShowAndChooseTheHandTheKeysAndTheMenuChoose) {
    WriteSongList({DemoSong(0), DemoSong(1)});
    OpenWithMemory();
    CHandChoice* choice = m_window->m_handChoice;
    auto checked = [&] {
        QString hands;
        for (Hand h : {Hand::Both, Hand::Right, Hand::Left}) {
            hands += choice->Button(h)->isChecked() ? choice->Button(h)->text() : QString();
        }
        return hands;
    };
    EXPECT_EQ(checked(), QString::fromUtf8("両手"));
    EXPECT_TRUE(choice->isVisible());
    ClickSongRow(0);
    Key(m_window->m_keyboard, Qt::Key_F3);
    EXPECT_EQ(checked(), QString::fromUtf8("右手"));
    QTest::mouseClick(choice->Button(Hand::Left), Qt::LeftButton);
    EXPECT_EQ(m_window->Core().PracticeHand(), Hand::Left);
    EXPECT_EQ(m_window->m_noteView->Practice().hand, Hand::Left);
    EXPECT_EQ(checked(), QString::fromUtf8("左手"));
    // A click on the hand already chosen keeps it.
    QTest::mouseClick(choice->Button(Hand::Left), Qt::LeftButton);
    EXPECT_EQ(checked(), QString::fromUtf8("左手"));
    emit m_window->m_keyboard->handChosen(Hand::Right);
    EXPECT_EQ(checked(), QString::fromUtf8("右手"));
    ClickSongRow(1);
    EXPECT_EQ(checked(), QString::fromUtf8("両手")) << "another song starts with both hands";
    ClickSongRow(0);
    EXPECT_EQ(checked(), QString::fromUtf8("右手")) << "the hand comes back with its song";
    const char* keys[] = {"[F2]", "[F3]", "[F4]"};
    int i = 0;
    for (Hand h : {Hand::Both, Hand::Right, Hand::Left}) {
        EXPECT_TRUE(choice->Button(h)->toolTip().endsWith(QLatin1String(keys[i++])));
    }
    // Over the mode buttons, clear of the song buttons.
    EXPECT_GE(choice->geometry().top(), Control(ids::kDeleteSong)->geometry().bottom());
    EXPECT_LT(choice->geometry().bottom(), Control(ids::kModelPerformance)->geometry().top());
}

}  // namespace
