#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QPixmap>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/key_state.h"
#include "engine/note_spans.h"
#include "engine/part_map.h"
#include "engine/passage.h"
#include "engine/take_comparison.h"

class CPelorvaneCore;
class CKeyboardPanel;
class QFile;
namespace smf {
class MeterMap;
}

// The falling-notes view above the screen keyboard, key for key: every note of the song is a bar
// that falls toward its key and reaches the keyboard as it sounds. It follows the song time the
// clock thread publishes and never takes the play lock; while the song moves it draws a frame per
// display refresh, and none while nothing moves.
class CNoteView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kDefaultSpanMs = 3000;  // song time from the keyboard to the top
    static constexpr int kMinSpanMs = 1000;
    static constexpr int kMaxSpanMs = 12000;
    static const QColor kBackground;

    CNoteView(CPelorvaneCore& core, const CKeyboardPanel& keyboard, QWidget* parent);
    ~CNoteView() override;

    // The song's notes and bars (null: none).
    void SetSong(std::shared_ptr<const NoteSpans> notes,
                 std::shared_ptr<const smf::MeterMap> meter);
    // What is practised: its notes are drawn bright.
    void SetPracticeChoice(PracticeChoice choice);
    PracticeChoice Practice() const { return m_practice; }
    void SetLoop(std::optional<LoopSpan> loop);
    void SetSpanMs(int spanMs);
    int SpanMs() const { return m_spanMs; }
    void SetOthersHidden(bool hidden);
    bool OthersHidden() const { return m_othersHidden; }
    // A take of the song shown, drawn over its notes: each played note as an outline in the
    // colour of how it met the practised note of its key, missed notes marked (null: none).
    // Another song takes it away.
    // parts: what the take's run practised, whose notes a key answers; none: what is ticked.
    void SetTake(std::shared_ptr<const Take> take,
                 std::optional<PracticeChoice> parts = std::nullopt);
    const std::optional<TakeComparison>& ShownTake() const { return m_comparison; }

    // The song time drawn at clock value nowMs.
    uint32_t SongTimeAt(uint32_t nowMs) const;
    // The height at which song time songMs is drawn when the view shows time viewMs: the
    // keyboard's edge (the bottom) at viewMs, the top at viewMs + SpanMs().
    int YOf(uint32_t songMs, uint32_t viewMs) const;
    // The columns of a key, in this view's coordinates: the same x and width as on the keyboard.
    QRect KeyColumn(int key) const;

    // Called by the window's idle routine: starts the frames when the song moves, and repaints
    // once when something that stands still has changed.
    void Refresh(uint32_t nowMs);
    // True while frames are being drawn at the display's rate.
    bool Animating() const { return m_frameTimer.isActive(); }
    // The time between the last frame's due time and the next one's, in ms: the frames' pace,
    // whatever the lateness of the last.
    double FrameGapMs() const { return m_frameGapNs / 1e6; }
    // Frames painted since the view was made.
    uint64_t FramesPainted() const { return m_framesPainted; }

  signals:
    // Each frame while the song moves; the window does its own periodic work on it.
    void frameDue();
    // The frames have stopped: nothing moves.
    void framesEnded();
    void spanChanged(int spanMs);
    void othersHiddenChanged(bool hidden);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Everything besides the song's motion that a standing frame shows.
    struct Look {
        uint32_t songMs = 0;
        KeyState::Snapshot keys;
        KeyBits crossed{};  // keys of the awaited chord played already
        bool waiting = false;
        bool operator==(const Look&) const = default;
    };
    Look CurrentLook(uint32_t nowMs) const;
    bool Moving() const;
    void OnFrame();
    // Brings the view to the song's present moment, shifting what is drawn where it can.
    void Advance();
    // The row of song time songMs on the view's fixed grid of whole pixels.
    int64_t RowOf(uint32_t songMs) const;
    void ScheduleFrame();
    // Clock time until the notes have moved far enough for the next frame; 0 when they stand.
    qint64 NsToNextStep() const;
    void UpdateColumns() const;
    void DrawBars(QPainter& painter, uint32_t viewMs) const;
    void DrawBarNumbers(QPainter& painter, uint32_t viewMs);
    void CompareShownTake();
    void DrawTake(QPainter& painter, uint32_t viewMs, uint32_t lowMs, uint32_t topMs) const;
    // The ground and the line at every C, as they stand for this size and key layout.
    const QPixmap& Ground();
    // Puts a note's bar into the batch of its colour.
    void AddNote(const NoteSpan& note, uint32_t viewMs, const Look& look);
    void RecordFrameTime(qint64 ns);

    CPelorvaneCore& m_core;
    const CKeyboardPanel& m_keyboard;
    std::shared_ptr<const NoteSpans> m_notes;
    std::shared_ptr<const smf::MeterMap> m_meter;
    PracticeChoice m_practice;
    std::optional<LoopSpan> m_loop;
    std::shared_ptr<const Take> m_take;
    std::optional<PracticeChoice> m_takeParts;
    std::optional<TakeComparison> m_comparison;  // of m_take, for the notes and parts shown
    int m_spanMs = kDefaultSpanMs;
    bool m_othersHidden = false;
    Look m_painted;      // what the last frame showed
    QRect m_paintedFor;  // m_columnsFor and the size when the view was last drawn whole
    QSize m_paintedSize;

    QTimer m_frameTimer;
    QElapsedTimer m_frameClock;
    qint64 m_nextFrameNs = 0;
    qint64 m_frameNs = 16666667;
    qint64 m_frameGapNs = 0;
    uint64_t m_framesPainted = 0;

    std::array<QVector<QRect>, 32> m_batches;  // bars by channel, then practised by channel
    QVector<QRect> m_awaitedBars;
    // Notes of the awaited chord already held: dimmed and struck through, by channel.
    std::array<QVector<QRect>, 16> m_crossedBars;

    // What does not move while the song plays, drawn once: the ground with its octave lines,
    // and each bar number's label.
    QPixmap m_ground;
    QRect m_groundFor;  // m_columnsFor when m_ground was drawn
    QSize m_groundSize;
    QHash<uint32_t, QPixmap> m_barLabels;
    int m_labelHeight = -1;  // the labels' line height, measured once for the font

    // Key columns as last laid out, for the keyboard's range and width then.
    mutable std::array<QRect, 128> m_columns;
    mutable QRect m_columnsFor;  // (low, high, keyboard width, keyboard x - view x)

    // Frame times for measurements (PELORVANE_FRAME_LOG names a file): a line each second.
    std::unique_ptr<QFile> m_frameLog;
    std::vector<qint64> m_frameTimes;
    QElapsedTimer m_frameLogClock;
};
