#include "ui/track_list_box.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include "engine/track_activity.h"
#include "ui/channel_colors.h"

class CTrackListBox::Delegate : public QStyledItemDelegate {
  public:
    explicit Delegate(CTrackListBox* list) : QStyledItemDelegate(list), m_list(list) {}

    void Init(QStyleOptionViewItem* option, const QModelIndex& index) const {
        initStyleOption(option, index);
    }

    // Where the activity area of a row starts: just right of the check box.
    static int ActivityLeft(const QStyleOptionViewItem& option, const QWidget* widget) {
        QStyle* style = widget ? widget->style() : QApplication::style();
        // The check box's place does not depend on the label. Without the text the style skips
        // laying it out, which otherwise costs most of every repaint of the bars.
        QStyleOptionViewItem bare = option;
        bare.text.clear();
        bare.features &= ~QStyleOptionViewItem::HasDisplay;
        QRect check = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &bare, widget);
        return check.right() + 3;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        // The periodic repaint covers only the activity column; the check box and the label
        // are drawn only when they are part of what is repainted.
        // The view paints its rows without a painter clip, so the event's area tells.
        const QRect clip = m_list->m_paintRect.isValid() ? m_list->m_paintRect : option.rect;
        // A bar alone needs neither the row's data nor the style: the activity column's place
        // is known once the periodic repaint has worked it out.
        if (m_list->m_activityLeft >= 0) {
            const int left = option.rect.left() + m_list->m_activityLeft;
            if (clip.left() >= left && clip.right() < left + kActivityWidth) {
                PaintBar(painter, option.rect, left, index.row(),
                         option.palette.color(QPalette::Base));
                return;
            }
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();

        const QColor background = opt.palette.color(QPalette::Base);
        const int left = ActivityLeft(opt, widget);
        const bool labelPart = clip.left() < left || clip.right() >= left + kActivityWidth;

        if (labelPart) {
            painter->fillRect(opt.rect, background);
            QStyleOptionViewItem check = opt;
            check.rect = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
            check.state &= ~QStyle::State_HasFocus;
            check.state |= opt.checkState == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
            style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, widget);
        }

        const int row = index.row();
        PaintBar(painter, opt.rect, left, row, background);

        if (!labelPart) {
            return;
        }
        QRect textRect = opt.rect;
        textRect.setLeft(left + kActivityWidth);
        // The channel's colour in the falling-notes view.
        const int channel = m_list->RowChannel(row);
        if (channel >= 0) {
            painter->fillRect(QRect(textRect.left() + 1, opt.rect.top() + 3, kColorMarkWidth - 2,
                                    opt.rect.height() - 6),
                              ChannelColor(channel));
            textRect.setLeft(textRect.left() + kColorMarkWidth);
        }
        painter->setPen(opt.palette.color(QPalette::Text));
        painter->setFont(opt.font);
        painter->drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          opt.text);
        if ((opt.state & QStyle::State_HasFocus) && widget && widget->hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(widget);
            focus.rect = textRect;
            focus.backgroundColor = background;
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

    void PaintBar(QPainter* painter, const QRect& rowRect, int left, int row,
                  const QColor& background) const {
        if (row < 0 || row >= TrackActivity::kMaxRows) {
            return;
        }
        const int top = rowRect.top();
        const int height = rowRect.height();
        const Bar bar = m_list->BarOf(row, background);
        // Four fills cover the activity area exactly: the bar, a 2-pixel margin above and
        // below it, and the rest of the area to its right.
        painter->fillRect(QRect(left, top + 2, bar.width, height - 4), bar.color);
        painter->fillRect(QRect(left, top, bar.width, 2), background);
        painter->fillRect(QRect(left, top + height - 2, bar.width, 2), background);
        painter->fillRect(QRect(left + bar.width, top, kActivityWidth - bar.width, height),
                          background);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(size.width() + kActivityWidth + kColorMarkWidth);
        return size;
    }

  private:
    CTrackListBox* m_list;
};

CTrackListBox::CTrackListBox(const TrackActivity& activity, QWidget* parent)
    : QListWidget(parent), m_activity(activity) {
    setSelectionMode(QAbstractItemView::NoSelection);
    setUniformItemSizes(true);
    setItemDelegate(new Delegate(this));
    // The list fills its own ground: a repaint of the bars alone, a frame's usual one, then
    // costs no separate fill of an area the bars cover anyway.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

int CTrackListBox::AddTrackRow(const QString& text, int channel, bool checked) {
    auto* item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, channel);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    addItem(item);
    return count() - 1;
}

int CTrackListBox::RowChannel(int row) const {
    const QListWidgetItem* it = item(row);
    return it ? it->data(Qt::UserRole).toInt() : -1;
}

bool CTrackListBox::RowChecked(int row) const {
    const QListWidgetItem* it = item(row);
    return it && it->checkState() == Qt::Checked;
}

CTrackListBox::Bar CTrackListBox::BarOf(int row, const QColor& background) const {
    const uint32_t now = m_activity.m_now.load(std::memory_order_relaxed);
    const uint32_t last = m_activity.m_lastNoteTime[row].load(std::memory_order_relaxed);
    const uint32_t rgb = m_activity.m_noteColor[row].load(std::memory_order_relaxed);
    uint32_t age = now - last;
    if (age >= kFadeMs) {
        age = kFadeMs;
    }
    const int fresh = kFadeMs - static_cast<int>(age);
    const int a = static_cast<int>(age);
    auto mix = [&](int note, int back) { return (note * fresh + back * a) / kFadeMs; };
    QColor color(mix((rgb >> 16) & 0xFF, background.red()),
                 mix((rgb >> 8) & 0xFF, background.green()), mix(rgb & 0xFF, background.blue()));
    return Bar{kBarWidth * fresh / kFadeMs, color};
}

void CTrackListBox::paintEvent(QPaintEvent* event) {
    if (PaintBarsAlone(event->rect())) {
        return;
    }
    {
        QPainter painter(viewport());
        painter.fillRect(event->rect(), viewport()->palette().brush(viewport()->backgroundRole()));
    }
    m_paintRect = event->rect();
    QListWidget::paintEvent(event);
    m_paintRect = QRect();
}

void CTrackListBox::RepaintActivity(int row) {
    RepaintActivity(row, row);
}

void CTrackListBox::RepaintActivity(int first, int last) {
    // Finding a row's place costs more than painting its bar: one stretch of the column, found
    // from its two ends, covers every row between.
    const QRect top = RowRect(first);
    const QRect bottom = first == last ? top : RowRect(last);
    const QRect r = top | bottom;
    if (r.isEmpty()) {
        return;
    }
    if (m_activityLeft < 0) {
        m_activityLeft = ActivityRect(first).left() - top.left();
    }
    viewport()->update(QRect(r.left() + m_activityLeft, r.top(), kActivityWidth, r.height()));
}

bool CTrackListBox::PaintBarsAlone(const QRect& area) {
    if (m_activityLeft < 0 || !isEnabled() || count() == 0) {
        return false;
    }
    const int left = RowRect(0).left() + m_activityLeft;
    if (area.left() < left || area.right() >= left + kActivityWidth ||
        area.top() < RowRect(0).top() || area.bottom() > RowRect(count() - 1).bottom()) {
        return false;
    }
    for (int row = 0; row < count(); ++row) {
        if (RowRect(row).intersects(area) && !(item(row)->flags() & Qt::ItemIsEnabled)) {
            return false;
        }
    }
    // The colour group the view gives an enabled row of an enabled list.
    const QColor background = palette().color(QPalette::Active, QPalette::Base);
    const auto* delegate = static_cast<const Delegate*>(itemDelegate());
    QPainter painter(viewport());
    for (int row = 0; row < count(); ++row) {
        const QRect rect = RowRect(row);
        if (rect.intersects(area)) {
            delegate->PaintBar(&painter, rect, left, row, background);
        }
    }
    return true;
}

QRect CTrackListBox::RowRect(int row) const {
    if (row < 0 || row >= count()) {
        return {};
    }
    const size_t rows = static_cast<size_t>(count());
    if (m_rowRects.size() == rows && !m_rowRects[static_cast<size_t>(row)].isNull()) {
        return m_rowRects[static_cast<size_t>(row)];
    }
    // Asking may lay the rows out first, which forgets every place kept so far.
    const QRect rect = visualRect(model()->index(row, 0));
    if (m_rowRects.size() != rows) {
        m_rowRects.assign(rows, QRect());
    }
    m_rowRects[static_cast<size_t>(row)] = rect;
    return rect;
}

void CTrackListBox::ForgetRowRects() {
    m_rowRects.clear();
}

void CTrackListBox::doItemsLayout() {
    ForgetRowRects();
    QListWidget::doItemsLayout();
    ForgetRowRects();
}

void CTrackListBox::reset() {
    ForgetRowRects();
    QListWidget::reset();
}

void CTrackListBox::scrollContentsBy(int dx, int dy) {
    ForgetRowRects();
    QListWidget::scrollContentsBy(dx, dy);
}

void CTrackListBox::rowsInserted(const QModelIndex& parent, int start, int end) {
    ForgetRowRects();
    QListWidget::rowsInserted(parent, start, end);
}

void CTrackListBox::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    ForgetRowRects();
    QListWidget::rowsAboutToBeRemoved(parent, start, end);
}

void CTrackListBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::LayoutDirectionChange) {
        m_activityLeft = -1;
        ForgetRowRects();
    }
    QListWidget::changeEvent(event);
}

void CTrackListBox::resizeEvent(QResizeEvent* event) {
    m_activityLeft = -1;
    ForgetRowRects();
    QListWidget::resizeEvent(event);
}

QRect CTrackListBox::ActivityRect(int row) const {
    const QModelIndex index = model()->index(row, 0);
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = visualRect(index);
    static_cast<const Delegate*>(itemDelegate())->Init(&opt, index);
    const int left = Delegate::ActivityLeft(opt, this);
    return QRect(left, opt.rect.top(), kActivityWidth, opt.rect.height());
}
