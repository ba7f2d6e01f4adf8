// The position bar on its own: what it shows, by text and by pixel, and what a click, a drag and
// its context menu ask for.

#include <gtest/gtest.h>
#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "midi_file_writer/smf_writer.h"
#include "smf/smf.h"
#include "ui/position_bar.h"

namespace {

// 4/4 at 120 a minute with one tick a millisecond: a bar is 2000 ms; the song lasts 8 bars.
std::shared_ptr<const smf::MeterMap> EightBars() {
    SmfWriter w;
    w.Note(0, 0, 60, 16000);
    return std::make_shared<const smf::MeterMap>(*w.Load());
}

class PositionBarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bar = std::make_unique<CPositionBar>(nullptr);
        bar->resize(600, 24);
        bar->SetSong(EightBars());
    }
    QColor Pixel(int x) {
        return bar->grab().toImage().pixelColor(x, bar->GrooveRect().center().y());
    }
    std::unique_ptr<CPositionBar> bar;
};

TEST_F(PositionBarTest, ShowsBarBeatTimeAndLength) {
    EXPECT_EQ(bar->Text(), QStringLiteral("1:1  0:00 / 0:16"));
    bar->SetPosition(6700);
    EXPECT_EQ(bar->Text(), QStringLiteral("4:2  0:06 / 0:16"));
    bar->SetPosition(99999);  // past the end: held at the end
    EXPECT_EQ(bar->Position(), 16000u);
    bar->SetSong(nullptr);
    EXPECT_EQ(bar->Text(), QString());
}

TEST_F(PositionBarTest, ThumbAndLoopAreDrawnWhereTheirTimesLie) {
    bar->SetPosition(8000);
    bar->SetLoop(LoopSpan{2000, 6000});
    const QRect groove = bar->GrooveRect();
    const int thumb = bar->XOf(8000);
    EXPECT_NEAR(thumb, groove.left() + groove.width() / 2, 1);
    EXPECT_EQ(Pixel(thumb), QColor(30, 80, 160));
    const int insideLoop = bar->XOf(4100);
    const int afterLoop = bar->XOf(12100);
    EXPECT_EQ(Pixel(insideLoop), QColor(255, 214, 120));
    EXPECT_NE(Pixel(afterLoop), QColor(255, 214, 120));
    bar->SetLoop(std::nullopt);
    EXPECT_NE(Pixel(insideLoop), QColor(255, 214, 120));
}

TEST_F(PositionBarTest, ClickAndDragAskToMoveAndTheDragWinsOverThePlayingPosition) {
    QSignalSpy seeks(bar.get(), &CPositionBar::seekRequested);
    const QRect groove = bar->GrooveRect();
    const QPoint quarter(bar->XOf(4000), groove.center().y());
    QTest::mouseClick(bar.get(), Qt::LeftButton, {}, quarter);
    ASSERT_EQ(seeks.count(), 2);  // press, then release
    // A pixel of this groove is about 30 ms of song.
    EXPECT_NEAR(seeks[1][0].toUInt(), 4000u, 30);
    EXPECT_TRUE(seeks[1][1].toBool());
    EXPECT_EQ(bar->Position(), seeks[1][0].toUInt());

    seeks.clear();
    const QPoint half(bar->XOf(8000), groove.center().y());
    QTest::mousePress(bar.get(), Qt::LeftButton, {}, quarter);
    QTest::mouseMove(bar.get(), half);
    bar->SetPosition(100);  // the song plays on meanwhile
    EXPECT_NEAR(bar->Position(), 8000u, 30) << "the bar shows where the mouse is";
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, half);
    ASSERT_GE(seeks.count(), 2);
    EXPECT_FALSE(seeks.first()[1].toBool());
    EXPECT_NEAR(seeks.last()[0].toUInt(), 8000u, 30);
    EXPECT_TRUE(seeks.last()[1].toBool());

    seeks.clear();
    QTest::mouseClick(bar.get(), Qt::LeftButton, {}, QPoint(2, 12));  // on the text
    EXPECT_EQ(seeks.count(), 0);
}

TEST_F(PositionBarTest, ContextMenuSetsLoopPointsOnTheNearestBeat) {
    QSignalSpy loops(bar.get(), &CPositionBar::loopChangeRequested);
    auto trigger = [&](uint32_t ms, int action) {
        std::unique_ptr<QMenu> menu(bar->BuildMenu(ms));
        menu->actions().at(action)->trigger();
    };
    trigger(4200, 0);  // A near beat 1 of bar 3
    ASSERT_EQ(loops.count(), 1);
    EXPECT_EQ(loops[0][0].value<std::optional<LoopSpan>>(), (LoopSpan{4000, 16000}));
    bar->SetLoop(LoopSpan{4000, 16000});
    trigger(7800, 1);  // B near bar 5
    EXPECT_EQ(loops[1][0].value<std::optional<LoopSpan>>(), (LoopSpan{4000, 8000}));
    bar->SetLoop(LoopSpan{4000, 8000});
    trigger(3000, 1);  // B before A: refused, and said, never taken as no loop
    trigger(4000, 1);
    EXPECT_EQ(loops.count(), 2);
    EXPECT_FALSE(bar->LastRefusal().isEmpty());
    std::unique_ptr<QMenu> menu(bar->BuildMenu(0));
    ASSERT_TRUE(menu->actions().at(2)->isEnabled());
    menu->actions().at(2)->trigger();
    EXPECT_FALSE(loops.last()[0].value<std::optional<LoopSpan>>().has_value());
    bar->SetLoop(std::nullopt);
    std::unique_ptr<QMenu> noLoop(bar->BuildMenu(0));
    EXPECT_FALSE(noLoop->actions().at(2)->isEnabled());
}

TEST_F(PositionBarTest, TheBeatMarkFlashesOnEachBeatAndShowsTheCountIn) {
    const smf::MeterMap& meter = *bar->Meter();
    SongClock::Reading clock;
    clock.playing = true;
    clock.clockMs = 1000;
    clock.songMs = 0;
    // Lit for the first moments of each beat by the clock, the bar's first accented.
    EXPECT_EQ(BeatMarkAt(clock, meter, 1000), (BeatMark{1, 4, false, true, true}));
    EXPECT_FALSE(BeatMarkAt(clock, meter, 1000 + kBeatFlashMs).lit);
    EXPECT_EQ(BeatMarkAt(clock, meter, 1520), (BeatMark{2, 4, false, false, true}));
    clock.speedPercent = 50;  // a beat's flash lasts as long at half speed
    EXPECT_TRUE(BeatMarkAt(clock, meter, 1000 + kBeatFlashMs - 1).lit);
    EXPECT_FALSE(BeatMarkAt(clock, meter, 1000 + kBeatFlashMs).lit);
    clock.waiting = true;  // the lesson holds the song on the beat: no flashing
    EXPECT_FALSE(BeatMarkAt(clock, meter, 1000).lit);
    clock.waiting = false;
    clock.countInBeat = 3;
    clock.countInBeats = 8;
    clock.countInClickMs = 3000;
    EXPECT_EQ(BeatMarkAt(clock, meter, 3050), (BeatMark{3, 8, true, false, true}));

    // On the bar: the count-in in place of bar and beat, the mark in its colour while lit.
    auto markPixel = [&] { return bar->grab().toImage().pixelColor(bar->MarkRect().center()); };
    const QColor unlit = markPixel();
    bar->SetBeat(BeatMarkAt(clock, meter, 3050));
    EXPECT_EQ(bar->Text(), QString::fromUtf8("カウント 3/8"));
    EXPECT_EQ(markPixel(), QColor(30, 110, 220));
    clock.countInAccent = true;
    bar->SetBeat(BeatMarkAt(clock, meter, 3050));
    EXPECT_EQ(markPixel(), QColor(230, 70, 40));
    bar->SetBeat(BeatMarkAt(clock, meter, 3000 + kBeatFlashMs));
    EXPECT_EQ(markPixel(), unlit);
    clock.countInBeat = 0;
    bar->SetBeat(BeatMarkAt(clock, meter, 3000));
    EXPECT_EQ(bar->Text(), QStringLiteral("1:1  0:00 / 0:16"));
}

}  // namespace
