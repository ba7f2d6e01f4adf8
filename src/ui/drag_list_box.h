#pragma once

#include <QListWidget>
#include <QStringList>
#include <functional>

// The song list box. Rows are reordered by dragging: a dragged row lands just before the row it
// is dropped on; a drop below the last row, onto the row itself or onto the row just below it
// moves nothing. Files dragged in from a file manager are handed to the window.
class CMyDragListBox : public QListWidget {
  public:
    explicit CMyDragListBox(QWidget* parent = nullptr);

    // Release of a dragged row: moves source before the row under point (viewport coordinates)
    // following the rule above, then reports the new order.
    void Dropped(int sourceRow, const QPoint& point);

    // Row before which the insertion mark stands, -1 for none.
    int m_dragMarkRow = -1;

    std::function<void()> m_onReordered;
    std::function<void(const QStringList&)> m_onFilesDropped;

  protected:
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex& index, const QEvent* event = nullptr) const override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void AnswerDrag(QDragMoveEvent* event);
    void SetMark(int row);
};

// Local file paths of a drop, in the order the file manager gives them.
QStringList LocalPathsOf(const class QMimeData* mime);
