#include "ui/drag_list_box.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QSignalBlocker>
#include <QUrl>

namespace {

const char* const kRowMime = "application/x-pelorvane-song-row";

}  // namespace

QStringList LocalPathsOf(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

CMyDragListBox::CMyDragListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);  // the insertion mark is drawn here
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setAutoScroll(true);
}

QItemSelectionModel::SelectionFlags CMyDragListBox::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const {
    // Ctrl with a click or Space, or a click below the last row, would take the selection off
    // the selected row. The song list keeps its selected song once one is chosen, so that the
    // track rows always belong to a selected song.
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (!index.isValid() ||
        (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))) {
        return QItemSelectionModel::NoUpdate;
    }
    return command;
}

void CMyDragListBox::startDrag(Qt::DropActions) {
    if (currentRow() < 0) {
        return;
    }
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kRowMime), QByteArray::number(currentRow()));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    SetMark(-1);
    // The row is moved by Dropped, never by the drag's result, so the list stays in step with
    // the song list whatever the drop target reports.
    drag->exec(Qt::MoveAction);
    SetMark(-1);
}

void CMyDragListBox::dragEnterEvent(QDragEnterEvent* event) {
    AnswerDrag(event);
}

void CMyDragListBox::dragMoveEvent(QDragMoveEvent* event) {
    // The base class scrolls the list while the pointer is held near its top or bottom edge.
    QListWidget::dragMoveEvent(event);
    AnswerDrag(event);
}

// A row of our own moves and shows the insertion mark; files from a file manager are copied in;
// anything else is refused.
void CMyDragListBox::AnswerDrag(QDragMoveEvent* event) {
    if (event->source() == this && event->mimeData()->hasFormat(QString::fromLatin1(kRowMime))) {
        SetMark(indexAt(event->position().toPoint()).row());
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else if (!LocalPathsOf(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CMyDragListBox::dragLeaveEvent(QDragLeaveEvent* event) {
    SetMark(-1);
    QListWidget::dragLeaveEvent(event);
}

void CMyDragListBox::dropEvent(QDropEvent* event) {
    if (event->source() == this && event->mimeData()->hasFormat(QString::fromLatin1(kRowMime))) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        Dropped(currentRow(), event->position().toPoint());
        return;
    }
    const QStringList paths = LocalPathsOf(event->mimeData());
    if (!paths.isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        if (m_onFilesDropped) {
            m_onFilesDropped(paths);
        }
        return;
    }
    event->ignore();
}

void CMyDragListBox::Dropped(int sourceRow, const QPoint& point) {
    SetMark(-1);
    const int dest = indexAt(point).row();
    if (sourceRow >= 0 && sourceRow < count() && dest >= 0 && dest != sourceRow &&
        dest != sourceRow + 1) {
        // Moving a row from code must not look like the user picking another song.
        QSignalBlocker block(this);
        QListWidgetItem* item = takeItem(sourceRow);
        const int at = sourceRow < dest ? dest - 1 : dest;
        insertItem(at, item);
        setCurrentRow(at, QItemSelectionModel::ClearAndSelect);
        viewport()->update();
    }
    if (m_onReordered) {
        m_onReordered();
    }
}

void CMyDragListBox::SetMark(int row) {
    if (row != m_dragMarkRow) {
        m_dragMarkRow = row;
        viewport()->update();
    }
}

void CMyDragListBox::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    if (m_dragMarkRow < 0 || m_dragMarkRow >= count()) {
        return;
    }
    const QRect rect = visualItemRect(item(m_dragMarkRow));
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Text), 2));
    painter.drawLine(rect.left() + 2, rect.top() + 1, rect.right() - 2, rect.top() + 1);
}
