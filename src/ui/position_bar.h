#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/loop_points.h"
#include "engine/passage.h"
#include "smf/meter_map.h"
#include "ui/beat_mark.h"

class QMenu;

// Where the song is, across the window: a mark that flashes on each beat, bar and beat (or
// the count-in's beat), the time and the song's length as text, then a groove with a mark at every
// bar (fewer where they would crowd), the A-B passage shaded and a thumb at the position. A click
// or a drag in the groove asks to move there; its context menu sets and clears the loop points. It
// shows what it is given and never asks the engine.
class CPositionBar : public QWidget {
    Q_OBJECT

  public:
    explicit CPositionBar(QWidget* parent);

    // A song (null: none; the bar then shows nothing and ignores the mouse).
    void SetSong(std::shared_ptr<const smf::MeterMap> meter);
    // The song time to show; repaints only when what shows changes. Ignored while dragging.
    void SetPosition(uint32_t songMs);
    void SetLoop(std::optional<LoopSpan> loop);
    // The beat mark, and while it counts in, the count-in in place of bar and beat; repaints
    // only what changes.
    void SetBeat(const BeatMark& mark);
    const BeatMark& Beat() const { return m_beat; }
    QRect MarkRect() const;

    uint32_t Position() const { return m_dragging ? m_dragMs : m_positionMs; }
    std::optional<LoopSpan> Loop() const { return m_loop; }
    const smf::MeterMap* Meter() const { return m_meter.get(); }
    QString Text() const;
    // Where the groove is drawn, and the song time at an x inside it (clamped to the song).
    QRect GrooveRect() const;
    uint32_t MsAt(int x) const;
    int XOf(uint32_t ms) const;
    // The beat start nearest to a song time: loop points fall on beats.
    uint32_t NearestBeat(uint32_t ms) const;

    // The menu the context menu shows for a point of the groove; tests drive it without opening it.
    QMenu* BuildMenu(uint32_t ms);
    // Asks for the loop a point gave, or tells the learner beside the bar why it was refused.
    void SetLoopPoint(const LoopPointResult& result);
    // The last refusal told, for tests.
    const QString& LastRefusal() const { return m_refusal; }

  signals:
    // final is false while the mouse still drags.
    void seekRequested(quint32 songMs, bool final);
    void loopChangeRequested(std::optional<LoopSpan> loop);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    int TextWidth() const;
    int MarkWidth() const;

    // Measuring the text shapes it anew each time, and the idle routine asks for the groove on
    // every frame: the width is kept until the font changes.
    mutable int m_textWidth = -1;

    std::shared_ptr<const smf::MeterMap> m_meter;
    uint32_t m_positionMs = 0;
    QString m_shownText;
    int m_shownX = -1;
    std::optional<LoopSpan> m_loop;
    BeatMark m_beat;
    QString m_refusal;
    bool m_dragging = false;
    uint32_t m_dragMs = 0;
};

// "m:ss" of a song time.
QString MinutesSeconds(uint32_t ms);
