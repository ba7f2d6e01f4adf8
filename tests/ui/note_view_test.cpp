// The falling-notes view: where and in what colour notes are drawn, how it follows play, the
// lesson and the loop, and how it grows with the window key for key with the screen keyboard.

#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>

#include "clocked_window_test.h"
#include "engine/performance.h"
#include "midi_file_writer/smf_writer.h"
#include "platform/clock.h"
#include "ui/channel_colors.h"
#include "ui/control_ids.h"
#include "ui/keyboard_panel.h"
#include "ui/note_view.h"
#include "ui/position_bar.h"
#include "ui/track_list_box.h"
#include "ui/ui_state.h"

namespace {

class NoteViewTest : public ClockedWindowTest {
  protected:
    void Open(const SmfWriter& song, QSize grow = QSize(200, 300)) {
        OpenWithSong(song, "notes.mid");
        view = m_window->m_noteView;
        Grow(grow);
    }
    void Grow(QSize grow) {
        const QSize size = m_window->BaseSize() + grow;
        m_window->resize(size);
        ASSERT_TRUE(WaitFor([&] { return m_window->size() == size; }));
    }
    QImage Frame() {
        view->Refresh(ManualClock::Get());
        return view->grab().toImage();
    }
    QColor At(const QImage& image, int key, int y) const {
        return image.pixelColor(view->KeyColumn(key).center().x(), y);
    }
    void PlayTo(uint32_t songMs) {
        for (int guard = 0; guard < 500 && m_window->Core().CurrentPlayState() != Stopped;
             ++guard) {
            if (SongTime() >= songMs || Waiting()) {
                return;
            }
            Tick(10);
        }
    }
    // Where the view draws song time ms while it shows viewMs, worked out here on its own.
    int Y(uint32_t ms, uint32_t viewMs) const {
        const int h = view->height();
        return h - static_cast<int>((int64_t(ms) - viewMs) * h / view->SpanMs());
    }

    CNoteView* view = nullptr;
};

const QColor kBackground = CNoteView::kBackground;

TEST_F(NoteViewTest, NotesLandAtTheirTimeInTheirChannelsColourAndFollowZoomAndPlace) {
    SmfWriter w;
    w.Note(1000, 0, 60, 500);             // practised
    w.NewTrack().Note(1000, 1, 64, 500);  // another channel, in a track of its own
    Open(w);
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(view->height(), 300);
    EXPECT_EQ(view->SpanMs(), CNoteView::kDefaultSpanMs);

    QImage image = Frame();
    const int bottom = Y(1000, 0);
    const int top = Y(1500, 0);
    EXPECT_EQ(At(image, 60, bottom - 1), ChannelColor(0));
    EXPECT_EQ(At(image, 60, bottom + 1), kBackground);
    EXPECT_EQ(At(image, 60, top + 1), ChannelColor(0));
    EXPECT_EQ(At(image, 60, top - 2), kBackground);
    EXPECT_EQ(At(image, 64, bottom - 1), FaintColor(ChannelColor(1), kBackground));
    EXPECT_EQ(At(image, 62, bottom - 1), kBackground);

    // Ticking channel 2 makes it bright, in its own colour.
    CTrackListBox* tracks = m_window->m_trackList;
    int row = -1;
    for (int r = 0; r < tracks->count(); ++r) {
        row = tracks->RowChannel(r) == 1 ? r : row;
    }
    ASSERT_GE(row, 0) << tracks->count() << " rows";
    tracks->item(row)->setCheckState(Qt::Checked);
    image = Frame();
    EXPECT_EQ(At(image, 64, bottom - 1), ChannelColor(1));
    EXPECT_NE(ChannelColor(1), ChannelColor(0));
    tracks->item(row)->setCheckState(Qt::Unchecked);

    view->SetOthersHidden(true);
    image = Frame();
    EXPECT_EQ(At(image, 64, bottom - 1), kBackground);
    EXPECT_EQ(At(image, 60, bottom - 1), ChannelColor(0));
    view->SetOthersHidden(false);

    view->SetSpanMs(6000);
    image = Frame();
    EXPECT_EQ(At(image, 60, Y(1000, 0) - 1), ChannelColor(0));
    EXPECT_EQ(At(image, 60, Y(1000, 0) + 1), kBackground);
    view->SetSpanMs(CNoteView::kDefaultSpanMs);

    // A new place while stopped moves the notes down.
    m_window->OnPositionSeek(600, true);
    image = Frame();
    EXPECT_EQ(At(image, 60, Y(1000, 600) - 1), ChannelColor(0));
    EXPECT_EQ(At(image, 60, Y(1000, 600) + 1), kBackground);
    EXPECT_EQ(At(image, 60, bottom - 1), kBackground);
}

TEST_F(NoteViewTest, TheLoopIsShadedAndBarLinesComeFromTheMeter) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(6000, 0, 60, 100);
    Open(w);
    m_window->OnLoopChange(LoopSpan{1200, 1800});
    QImage image = Frame();
    QImage expected(1, 1, QImage::Format_RGB32);
    expected.fill(kBackground);
    {
        QPainter p(&expected);
        p.fillRect(QRect(0, 0, 1, 1), QColor(70, 110, 190, 60));
    }
    const QColor shade = expected.pixelColor(0, 0);
    // Setting the loop moved the place to A.
    EXPECT_EQ(At(image, 62, (Y(1200, 1200) + Y(1800, 1200)) / 2), shade);
    EXPECT_EQ(At(image, 62, Y(1800, 1200) - 3), kBackground);
    // 4/4 at 120 a minute: bar 2 starts at 2 s, with a line across.
    EXPECT_NE(At(image, 62, Y(2000, 1200) - 1), kBackground);
    EXPECT_EQ(At(image, 62, Y(2000, 1200) - 4), kBackground);
}

TEST_F(NoteViewTest, TheLessonWaitFreezesTheViewAndItShowsTheChordAndAWrongKey) {
    SmfWriter w;
    w.Note(500, 0, 60, 300).Note(500, 0, 64, 300);
    Open(w);
    m_window->OnCommand(ids::kMyPaceLesson);
    view->Refresh(ManualClock::Get());
    EXPECT_TRUE(view->Animating());
    PlayTo(500);
    ASSERT_TRUE(Waiting());
    EXPECT_EQ(view->SongTimeAt(ManualClock::Get()), 500u);
    Tick(300);
    EXPECT_EQ(view->SongTimeAt(ManualClock::Get() + 1000), 500u);
    QImage image = Frame();
    EXPECT_FALSE(view->Animating()) << "no frames while the lesson waits";
    // The awaited chord stands out with a white edge.
    const QRect column = view->KeyColumn(60);
    bool edge = false;
    for (int x = column.left(); x <= column.right(); ++x) {
        edge = edge || image.pixelColor(x, view->height() - 20) == QColor(255, 255, 255);
    }
    EXPECT_TRUE(edge);

    // Standing still, a refresh paints nothing new...
    QApplication::processEvents();
    const uint64_t frames = view->FramesPainted();
    for (int i = 0; i < 5; ++i) {
        view->Refresh(ManualClock::Get());
        QApplication::processEvents();
    }
    EXPECT_EQ(view->FramesPainted(), frames);
    // ...until a wrong key is held: it shows as on the screen keyboard.
    CKeyboardPanel* keys = m_window->m_keyboard;
    QTest::mousePress(keys, Qt::LeftButton, {}, keys->KeyPoint(62));
    Tick(1);
    view->Refresh(ManualClock::Get());
    ASSERT_TRUE(WaitFor([&] { return view->FramesPainted() > frames; }));
    image = view->grab().toImage();
    EXPECT_EQ(At(image, 62, view->height() - 2),
              CKeyboardPanel::ColorOf(CKeyboardPanel::Wrong, false));
    QTest::mouseRelease(keys, Qt::LeftButton, {}, keys->KeyPoint(62));
    Tick(1);
    m_window->OnCommand(ids::kStop);
}

TEST_F(NoteViewTest, ANoteOfTheAwaitedChordAlreadyPlayedFadesWhileTheRestStaysBright) {
    SmfWriter w;
    w.Note(500, 0, 60, 300).Note(500, 0, 64, 300);
    Open(w);
    m_window->OnCommand(ids::kMyPaceLesson);
    PlayTo(500);
    ASSERT_TRUE(Waiting());
    // Pixels of a note's bar in the colour given, between its ends.
    auto count = [&](const QImage& image, int key, const QColor& colour) {
        const QRect column = view->KeyColumn(key);
        int n = 0;
        for (int y = Y(800, 500) + 3; y < view->height() - 3; ++y) {
            for (int x = column.left(); x <= column.right(); ++x) {
                n += image.pixelColor(x, y) == colour ? 1 : 0;
            }
        }
        return n;
    };
    const QColor bright = ChannelColor(0);
    const QColor faint = FaintColor(bright, kBackground);
    QImage image = Frame();
    const int before = count(image, 60, bright);
    EXPECT_GT(before, 20);
    EXPECT_EQ(count(image, 60, faint), 0);

    // C played and let go: the lesson still waits for E, and C is crossed off.
    CKeyboardPanel* keys = m_window->m_keyboard;
    QTest::mousePress(keys, Qt::LeftButton, {}, keys->KeyPoint(60));
    Tick(1);
    QTest::mouseRelease(keys, Qt::LeftButton, {}, keys->KeyPoint(60));
    Tick(1);
    ASSERT_TRUE(Waiting());
    image = Frame();
    EXPECT_GT(count(image, 60, faint), before / 2);
    EXPECT_LT(count(image, 60, bright), before / 4);
    EXPECT_GT(count(image, 64, bright), before / 2) << "the missing key stays bright";
    EXPECT_EQ(count(image, 64, faint), 0);
    m_window->OnCommand(ids::kStop);
}

TEST_F(NoteViewTest, ThePlayedSongMovesTheViewAtTheChosenSpeed) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(9000, 0, 60, 100);
    Open(w);
    m_window->OnCommand(ids::kModelPerformance);
    Tick(1);
    Tick(200);
    view->Refresh(ManualClock::Get());
    EXPECT_TRUE(view->Animating());
    uint32_t now = ManualClock::Get();
    EXPECT_EQ(view->SongTimeAt(now + 100) - view->SongTimeAt(now), 100u);
    m_window->m_speedSlider->setValue(0);  // x0.5
    Tick(2);
    now = ManualClock::Get();
    EXPECT_EQ(view->SongTimeAt(now + 100) - view->SongTimeAt(now), 50u);
    m_window->OnCommand(ids::kStop);
    ASSERT_TRUE(WaitFor([&] { return !view->Animating(); }));
}

// A frame that would show the notes where the last one did, or a single row further where rows
// come slower than the display, is not drawn: in a low view the frames come at half the
// display's rate, in a tall one at its full rate.
TEST_F(NoteViewTest, FramesComeOnlyAsOftenAsTheNotesMoveAStep) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(9000, 0, 60, 100);
    Open(w, QSize(0, 90));  // about 30 rows a second of song
    m_window->OnCommand(ids::kModelPerformance);
    Tick(1);
    view->Refresh(ManualClock::Get());
    ASSERT_TRUE(view->Animating());
    const double period = 1000.0 / std::clamp(view->screen()->refreshRate(), 30.0, 240.0);
    // The clock stands between ticks, so a paint after the first after a tick is a frame's: the
    // first may be the window's, after a start or a resize. A frame more than a period late
    // starts the pace anew, later: the shortest gap of a few is the pace.
    const auto pace = [&] {
        double shortest = 1e9;
        for (int i = 0; i < 4; ++i) {
            const uint64_t frames = view->FramesPainted();
            Tick(40);
            EXPECT_TRUE(WaitFor([&] { return view->FramesPainted() > frames; }));
            shortest = i > 0 ? std::min(shortest, view->FrameGapMs()) : shortest;
        }
        return shortest;
    };
    EXPECT_GE(pace(), 2 * period - 0.5) << "view " << view->height() << " px";
    Grow(QSize(0, 600));  // about 200 rows a second
    EXPECT_LE(pace(), period + 0.5) << "view " << view->height() << " px";
    m_window->OnCommand(ids::kStop);
}

// Where the notes move less than a pixel a display period, a frame waits until they have moved
// two rows, for as many whole periods as that takes, but never longer than three: the key
// lights and the fading bars ride on the frames.
TEST_F(NoteViewTest, ALowViewWaitsForTwoRowsButNoLongerThanThreePeriods) {
    SmfWriter w;
    w.Note(0, 0, 60, 100).Note(9000, 0, 60, 100);
    const double period =
        1000.0 / std::clamp(QGuiApplication::primaryScreen()->refreshRate(), 30.0, 240.0);
    const auto heightFor = [&](double rowPeriods) {
        return QSize(0, static_cast<int>(CNoteView::kDefaultSpanMs / (rowPeriods * period)));
    };
    Open(w, heightFor(1.2));
    // The first frame may have been planned before the clock had started, and one late on a
    // busy machine starts the pace anew, later: the shortest gap of a few is the pace. The clock
    // stands between ticks, so every frame waits as long as the first after the start.
    const auto pace = [&] {
        double shortest = 1e9;
        int frames = 0;
        const QMetaObject::Connection counting =
            QObject::connect(view, &CNoteView::frameDue, view, [&] {
                if (++frames > 1) {
                    shortest = std::min(shortest, view->FrameGapMs());
                }
            });
        EXPECT_TRUE(WaitFor([&] { return frames >= 5; }));
        QObject::disconnect(counting);
        return shortest;
    };
    // The song time of a row against the display's period, at the normal speed.
    for (const double rowPeriods : {1.2, 3.0}) {
        Grow(heightFor(rowPeriods));
        m_window->OnCommand(ids::kModelPerformance);
        Tick(1);
        view->Refresh(ManualClock::Get());
        ASSERT_TRUE(view->Animating());
        EXPECT_NEAR(pace(), 3 * period, 0.5)
            << "view " << view->height() << " px, " << rowPeriods << " periods a row";
        m_window->OnCommand(ids::kStop);
        ASSERT_TRUE(WaitFor([&] { return !view->Animating(); }));
    }
}

// A frame that slides the last picture down and draws only the new strip must show what a
// whole redraw at that moment shows, pixel for pixel: notes of every length, bar lines and their
// numbers, the loop's shading, and a note cut by the strip's edge.
TEST_F(NoteViewTest, AFrameThatShiftsThePictureShowsWhatAWholeRedrawShows) {
    SmfWriter w;
    for (uint32_t i = 0; i < 60; ++i) {
        w.Note(300 + i * 97, i % 3, 48 + static_cast<int>(i * 7 % 30), 40 + i * 53 % 900);
    }
    Open(w);
    m_window->OnLoopChange(LoopSpan{1500, 2600});
    m_window->OnCommand(ids::kModelPerformance);
    Tick(1);
    view->Refresh(ManualClock::Get());
    ASSERT_TRUE(view->Animating());
    // What the window shows of the view, against the view drawn whole at the same moment.
    const auto differing = [&] { return PixelsShownDifferently(view); };
    // Each step moves the notes by one pixel or more; the clock then stands until the next.
    for (uint32_t step : {11u, 23u, 31u, 45u, 101u, 13u}) {
        const uint64_t frames = view->FramesPainted();
        Tick(step);
        ASSERT_TRUE(WaitFor([&] { return view->FramesPainted() > frames; }));
        ASSERT_TRUE(view->Animating());
        int last = -1;
        EXPECT_TRUE(WaitFor([&] { return (last = differing()) == 0; }))
            << last << " pixels differ after " << step << " ms, at song time "
            << view->SongTimeAt(ManualClock::Get());
    }
    m_window->OnCommand(ids::kStop);
}

TEST_F(NoteViewTest, KeysStayAlignedWithTheKeyboardAtEveryWindowSize) {
    SmfWriter w;
    w.Note(0, 0, 30, 100).Note(200, 0, 100, 100);  // widens the keyboard to C1-C8
    Open(w, QSize(0, 0));
    EXPECT_EQ(m_window->minimumSize(), m_window->BaseSize());
    EXPECT_FALSE(view->isVisible()) << "at the smallest size the window is as it always was";
    const QRect songList = Control(ids::kSongList)->geometry();
    const QRect stop = Control(ids::kStop)->geometry();
    const QRect keyboardAtBase = m_window->m_keyboard->geometry();
    CKeyboardPanel* keys = m_window->m_keyboard;
    ASSERT_EQ(keys->LowKey(), 24);
    ASSERT_EQ(keys->HighKey(), 108);
    for (int grow : {1, 137, 401, 600}) {
        Grow(QSize(grow, grow / 2 + 40));
        SCOPED_TRACE(grow);
        // The lists take the width too; the buttons keep to the right edge.
        EXPECT_EQ(Control(ids::kSongList)->geometry(), songList.adjusted(0, 0, grow, 0));
        EXPECT_EQ(Control(ids::kStop)->geometry(), stop.translated(grow, 0));
        EXPECT_EQ(keys->width(), keyboardAtBase.width() + grow);
        EXPECT_EQ(keys->height(), keyboardAtBase.height());
        EXPECT_EQ(m_window->height() - keys->geometry().bottom(),
                  m_window->BaseSize().height() - keyboardAtBase.bottom());
        EXPECT_EQ(view->height(), grow / 2 + 40);
        EXPECT_EQ(view->geometry().bottom() + 1, keys->geometry().top());
        for (int k = keys->LowKey(); k <= keys->HighKey(); ++k) {
            const QRect key = keys->KeyRect(k);
            const QRect column = view->KeyColumn(k);
            ASSERT_EQ(view->mapTo(m_window.get(), column.topLeft()).x(),
                      keys->mapTo(m_window.get(), key.topLeft()).x())
                << k;
            ASSERT_EQ(column.width(), key.width()) << k;
        }
    }
}

TEST_F(NoteViewTest, ZoomAndTheHiddenChannelsAndTheWindowSizeAreRemembered) {
    SmfWriter w;
    w.Note(0, 0, 60, 100);
    Open(w);
    const QString file = QString::fromStdString(m_path + "/state.conf");
    m_window->SetViewState(UiState(file));
    QWheelEvent zoomIn(QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)), QPoint(),
                       QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &zoomIn);
    EXPECT_EQ(view->SpanMs(), 2400);
    QWheelEvent plain(QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &plain);
    EXPECT_EQ(view->SpanMs(), 2400) << "only Ctrl with the wheel zooms";
    UiState saved(file);
    EXPECT_EQ(saved.ViewSpanMs(), 2400);
    EXPECT_FALSE(saved.ViewOthersHidden());
    saved.SetViewOthersHidden(true);
    saved.SetWindowSize(QSize(900, 700));
    EXPECT_EQ(UiState(file).WindowSize(), QSize(900, 700));

    TestWindow again(m_service, m_path);
    again.SetViewState(UiState(file));
    EXPECT_EQ(again.m_noteView->SpanMs(), 2400);
    EXPECT_TRUE(again.m_noteView->OthersHidden());
}

// A take over the song: on time in white, early toward blue, late toward orange, a wrong key in
// red, a missed note crossed out in yellow; another song takes it away.
TEST_F(NoteViewTest, ATakeIsDrawnOverTheSongInTheColoursOfHowEachNoteWasPlayed) {
    SmfWriter w;
    w.Note(500, 0, 60, 400).Note(1000, 0, 62, 400).Note(1500, 0, 64, 400).Note(2000, 0, 65, 400);
    Open(w);
    using E = TakeEvent;
    view->SetTake(
        std::make_shared<const Take>(Take{{505, E::NoteOn, 60, 90},
                                          {800, E::NoteOff, 60, 0},  // on time
                                          {1140, E::NoteOn, 62, 90},
                                          {1400, E::NoteOff, 62, 0},  // late
                                          {1500, E::NoteOn, 67, 90},
                                          {1700, E::NoteOff, 67, 0},  // a wrong key; 64 missed
                                          {1880, E::NoteOn, 65, 90},
                                          {2100, E::NoteOff, 65, 0}}));  // early
    ASSERT_TRUE(view->ShownTake().has_value());
    const QImage image = Frame();
    // Whether a pixel of the key's column between the song times passes the test.
    auto any = [&](int key, uint32_t from, uint32_t to, auto test) {
        const QRect column = view->KeyColumn(key);
        for (int y = std::max(0, Y(to, 0) - 2); y <= std::min(image.height() - 1, Y(from, 0) + 2);
             ++y) {
            for (int x = column.left(); x <= column.right(); ++x) {
                if (test(image.pixelColor(x, y))) {
                    return true;
                }
            }
        }
        return false;
    };
    auto is = [](QColor want) { return [want](QColor c) { return c == want; }; };
    EXPECT_TRUE(any(60, 505, 800, is(QColor(245, 245, 245))));
    EXPECT_TRUE(any(62, 1140, 1400, [](QColor c) {
        return c.red() > 200 && c.green() > 150 && c.green() < 215 && c.blue() < 90;
    }));
    EXPECT_TRUE(any(65, 1880, 2100, [](QColor c) { return c.blue() > 200 && c.red() < 130; }));
    EXPECT_TRUE(any(67, 1500, 1700, is(QColor(255, 60, 60))));
    EXPECT_TRUE(any(64, 1500, 1900, is(QColor(255, 230, 0))));
    EXPECT_FALSE(any(60, 505, 800, is(QColor(255, 60, 60))));
    EXPECT_FALSE(any(62, 1000, 1400, is(QColor(255, 230, 0))));  // played: not missed

    view->SetSong(nullptr, nullptr);
    EXPECT_FALSE(view->ShownTake().has_value());
}

}  // namespace

namespace {

// With one hand chosen, a channel both hands share draws that hand bright and the other faint,
// also when the other channels are hidden; the keyboard marks the split key.
TEST_F(NoteViewTest, OneHandChosenDrawsItBrightAndTheOtherHandFaint) {
    SmfWriter w;
    w.Note(1000, 0, 72, 500).Note(1000, 0, 48, 500);  // one track: divided at middle C
    Open(w);
    const int bottom = Y(1000, 0);
    QImage image = Frame();
    EXPECT_EQ(At(image, 72, bottom - 1), ChannelColor(0));
    EXPECT_EQ(At(image, 48, bottom - 1), ChannelColor(0));
    EXPECT_EQ(m_window->m_keyboard->SplitMark(), -1);

    QTest::keyClick(m_window->m_keyboard, Qt::Key_F4);
    view->SetOthersHidden(true);
    image = Frame();
    EXPECT_EQ(At(image, 48, bottom - 1), ChannelColor(0));
    EXPECT_EQ(At(image, 72, bottom - 1), FaintColor(ChannelColor(0), kBackground));
    EXPECT_EQ(m_window->m_keyboard->SplitMark(), 60);

    QTest::keyClick(m_window->m_keyboard, Qt::Key_F2);
    image = Frame();
    EXPECT_EQ(At(image, 72, bottom - 1), ChannelColor(0));
    EXPECT_EQ(m_window->m_keyboard->SplitMark(), -1);
}

}  // namespace
