#pragma once

#include <QColor>
#include <QListWidget>
#include <QStyledItemDelegate>
#include <cstdint>
#include <vector>

struct TrackActivity;

// The track check list: one row per channel with notes, a practice tick and a short bar that
// flashes at every note of the channel and fades out within half a second. The activity values
// come from the window core, which the clock thread writes while a song plays.
class CTrackListBox : public QListWidget {
  public:
    static constexpr int kActivityWidth = 32;
    static constexpr int kFadeMs = 500;
    static constexpr int kBarWidth = 30;
    static constexpr int kColorMarkWidth = 8;  // the channel's colour before the label

    CTrackListBox(const TrackActivity& activity, QWidget* parent = nullptr);

    // Adds a row for channel (0-15) with its tick; returns the row index.
    int AddTrackRow(const QString& text, int channel, bool checked);
    int RowChannel(int row) const;
    bool RowChecked(int row) const;

    // Bar geometry and colour of a row at its current age, for painting and for tests.
    struct Bar {
        int width;
        QColor color;
    };
    Bar BarOf(int row, const QColor& background) const;
    // Left edge of the activity area of a row, in viewport coordinates.
    QRect ActivityRect(int row) const;
    // Repaints the activity area of a row and nothing else of it.
    void RepaintActivity(int row);
    // The same for rows first to last, those between included.
    void RepaintActivity(int first, int last);

    const TrackActivity& m_activity;

    void doItemsLayout() override;
    void reset() override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

  private:
    class Delegate;
    // What the current paint event covers; the row painter draws the label only inside it.
    QRect m_paintRect;
    // Left edge of the activity area, worked out once for the style and font: the periodic
    // repaint needs it for every row with a bar, and working it out lays out a row.
    int m_activityLeft = -1;
    // Where each row is in the viewport, as the view last laid the rows out and scrolled them.
    // The view works a row's place out from a fresh style option every time it is asked, which
    // cost more than all else the periodic repaint does here.
    QRect RowRect(int row) const;
    // The periodic repaint of the bars alone, drawn here: the view would build a style option
    // for the paint and for each row, which costs more than the bars. False for anything else.
    bool PaintBarsAlone(const QRect& area);
    void ForgetRowRects();
    mutable std::vector<QRect> m_rowRects;
};
