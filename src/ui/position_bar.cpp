#include "ui/position_bar.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace {
constexpr int kMinBarSpacing = 4;  // pixels between bar marks at least
const QColor kLoopShade(255, 214, 120);
const QColor kPlayed(170, 200, 235);
const QColor kThumb(30, 80, 160);
const QColor kBarMark(150, 150, 150);
const QColor kBeatLit(30, 110, 220);
const QColor kAccentLit(230, 70, 40);
const QColor kBeatUnlit(180, 180, 180);
}  // namespace

QString MinutesSeconds(uint32_t ms) {
    const uint32_t seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

CPositionBar::CPositionBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);  // it fills itself: the window behind is not drawn
    setToolTip(QString::fromUtf8(
        "曲の再生位置。クリックかドラッグで移動します。右クリックでA-Bリピートを設定します。"
        "[Home][PageUp][PageDown]"));
}

void CPositionBar::SetSong(std::shared_ptr<const smf::MeterMap> meter) {
    m_meter = std::move(meter);
    m_positionMs = 0;
    m_dragging = false;
    m_loop.reset();
    m_beat = {};
    m_shownText.clear();
    m_shownX = -1;
    update();
}

void CPositionBar::SetPosition(uint32_t songMs) {
    if (m_meter) {
        songMs = std::min(songMs, m_meter->EndMs());
    }
    // The idle routine asks often; most of the time nothing has moved.
    if (songMs == m_positionMs && !m_shownText.isEmpty()) {
        return;
    }
    const uint32_t before = m_positionMs;
    m_positionMs = songMs;
    if (m_dragging) {
        return;
    }
    // The text changes once a beat, the thumb once a pixel: each alone is redrawn. Making the
    // text for every millisecond the song moves would cost more than the thumb's repaint:
    // within the same second and beat it stays what it was.
    const bool sameText = !m_shownText.isEmpty() && m_meter && songMs / 1000 == before / 1000 &&
                          m_meter->AtMs(songMs) == m_meter->AtMs(before);
    if (!sameText && Text() != m_shownText) {
        update(QRect(0, 0, TextWidth(), height()));
    }
    const int x = XOf(songMs);
    if (x != m_shownX) {
        const int from = std::min(x, m_shownX);
        update(QRect(from - 1, 0, std::max(x, m_shownX) - from + 3, height()));
    }
}

void CPositionBar::SetBeat(const BeatMark& mark) {
    if (mark == m_beat) {
        return;
    }
    const bool textChanges = mark.countIn || m_beat.countIn;
    m_beat = mark;
    if (textChanges && !m_dragging) {
        update(QRect(0, 0, TextWidth(), height()));
    } else {
        update(MarkRect().adjusted(-1, -1, 1, 1));
    }
}

void CPositionBar::SetLoop(std::optional<LoopSpan> loop) {
    if (loop != m_loop) {
        m_loop = loop;
        update();
    }
}

QString CPositionBar::Text() const {
    if (!m_meter) {
        return {};
    }
    if (m_beat.countIn && !m_dragging) {
        return QString::fromUtf8("カウント %1/%2").arg(m_beat.beat).arg(m_beat.beats);
    }
    const uint32_t ms = Position();
    const smf::BarBeat at = m_meter->AtMs(ms);
    return QStringLiteral("%1:%2  %3 / %4")
        .arg(at.bar)
        .arg(at.beat)
        .arg(MinutesSeconds(ms))
        .arg(MinutesSeconds(m_meter->EndMs()));
}

int CPositionBar::TextWidth() const {
    // Room for the widest text of a long song, so that the groove never jumps as the text moves.
    if (m_textWidth < 0) {
        m_textWidth = MarkWidth() +
                      fontMetrics().horizontalAdvance(QStringLiteral("000:00  00:00 / 00:00")) + 8;
    }
    return m_textWidth;
}

int CPositionBar::MarkWidth() const {
    return fontMetrics().ascent() + 4;
}

QRect CPositionBar::MarkRect() const {
    const int size = std::max(4, std::min(fontMetrics().ascent() - 2, height() - 4));
    return QRect(2 + (MarkWidth() - 4 - size) / 2, (height() - size) / 2, size, size);
}

void CPositionBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_textWidth = -1;
    }
    QWidget::changeEvent(event);
}

QRect CPositionBar::GrooveRect() const {
    const int left = TextWidth();
    const int margin = std::max(2, height() / 5);
    return QRect(left, margin, std::max(1, width() - left - 2), std::max(1, height() - 2 * margin));
}

uint32_t CPositionBar::MsAt(int x) const {
    if (!m_meter) {
        return 0;
    }
    const QRect g = GrooveRect();
    const double fraction = std::clamp(double(x - g.left()) / std::max(1, g.width() - 1), 0.0, 1.0);
    return static_cast<uint32_t>(fraction * m_meter->EndMs() + 0.5);
}

int CPositionBar::XOf(uint32_t ms) const {
    const QRect g = GrooveRect();
    const uint32_t end = m_meter ? m_meter->EndMs() : 0;
    if (end == 0) {
        return g.left();
    }
    return g.left() + static_cast<int>(double(std::min(ms, end)) / end * (g.width() - 1) + 0.5);
}

uint32_t CPositionBar::NearestBeat(uint32_t ms) const {
    if (!m_meter) {
        return ms;
    }
    const smf::BarBeat at = m_meter->AtMs(ms);
    const uint32_t before = m_meter->BeatMs(at.bar, at.beat);
    const uint32_t after = at.beat < m_meter->BeatsInBar(at.bar)
                               ? m_meter->BeatMs(at.bar, at.beat + 1)
                               : m_meter->BarStartMs(at.bar + 1);
    return (ms - before <= after - ms || after < ms) ? before : after;
}

void CPositionBar::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    m_shownX = XOf(Position());
    if (!m_meter) {
        m_shownText.clear();
        return;
    }
    // A thumb and a beat mark repainted together make one rectangle across the text: the parts
    // themselves say what needs drawing.
    const QRegion& area = event->region();
    if (m_beat.beat > 0 && area.intersects(MarkRect())) {
        p.setRenderHint(QPainter::Antialiasing);
        const QColor lit = m_beat.accent ? kAccentLit : kBeatLit;
        p.setPen(m_beat.lit ? lit : kBeatUnlit);
        p.setBrush(m_beat.lit ? QBrush(lit) : Qt::NoBrush);
        p.drawEllipse(QRectF(MarkRect()).adjusted(0.5, 0.5, -0.5, -0.5));
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setBrush(Qt::NoBrush);
    }
    // Most repaints are of the thumb alone, and laying out the text is the dear part.
    const int textLeft = 2 + MarkWidth();
    const QRect textRect(textLeft, 0, TextWidth() - textLeft - 2, height());
    if (area.intersects(textRect)) {
        m_shownText = Text();
        p.setPen(palette().windowText().color());
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, m_shownText);
    }

    const QRect g = GrooveRect();
    p.fillRect(g, palette().base());
    if (m_loop) {
        const int a = XOf(m_loop->a);
        const int b = XOf(m_loop->b);
        p.fillRect(QRect(QPoint(a, g.top()), QPoint(std::max(a, b), g.bottom())), kLoopShade);
    }
    if (m_shownX > g.left()) {
        p.fillRect(
            QRect(QPoint(g.left(), g.bottom() - g.height() / 3), QPoint(m_shownX, g.bottom())),
            kPlayed);
    }
    // Bar marks: every bar, or every 2nd, 4th, ... where they would crowd.
    const uint32_t bars = m_meter->BarCount();
    uint32_t step = 1;
    while (step < bars && static_cast<double>(g.width()) * step / bars < kMinBarSpacing) {
        step *= 2;
    }
    p.setPen(kBarMark);
    const QRect bounds = area.boundingRect();
    for (uint32_t bar = 1; bar <= bars; bar += step) {
        const int x = XOf(m_meter->BarStartMs(bar));
        if (x >= bounds.left() && x <= bounds.right()) {  // most repaints are of the thumb alone
            p.drawLine(x, g.top(), x, g.top() + g.height() / 2);
        }
    }
    p.setPen(palette().mid().color());
    p.drawRect(g.adjusted(0, 0, -1, -1));
    p.fillRect(QRect(m_shownX - 1, 0, 3, height()), kThumb);
}

void CPositionBar::mousePressEvent(QMouseEvent* event) {
    if (!m_meter || event->button() != Qt::LeftButton ||
        event->position().x() < GrooveRect().left() - 2) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragMs = MsAt(static_cast<int>(event->position().x()));
    update();
    emit seekRequested(m_dragMs, false);
}

void CPositionBar::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging) {
        return;
    }
    const uint32_t ms = MsAt(static_cast<int>(event->position().x()));
    if (ms != m_dragMs) {
        m_dragMs = ms;
        update();
        emit seekRequested(m_dragMs, false);
    }
}

void CPositionBar::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_dragging || event->button() != Qt::LeftButton) {
        return;
    }
    m_dragMs = MsAt(static_cast<int>(event->position().x()));
    m_dragging = false;
    m_positionMs = m_dragMs;
    update();
    emit seekRequested(m_dragMs, true);
}

QMenu* CPositionBar::BuildMenu(uint32_t ms) {
    auto* menu = new QMenu(this);
    const uint32_t beat = NearestBeat(ms);
    const std::optional<LoopSpan> loop = m_loop;
    menu->addAction(QString::fromUtf8("ここをA地点にする(&A)\t["), this,
                    [this, beat, loop] { SetLoopPoint(LoopWithA(loop, beat, m_meter->EndMs())); });
    menu->addAction(QString::fromUtf8("ここをB地点にする(&B)\t]"), this,
                    [this, beat, loop] { SetLoopPoint(LoopWithB(loop, beat)); });
    QAction* clear = menu->addAction(QString::fromUtf8("A-Bリピートを解除(&C)\t\\"), this,
                                     [this] { emit loopChangeRequested(std::nullopt); });
    clear->setEnabled(loop.has_value());
    return menu;
}

void CPositionBar::SetLoopPoint(const LoopPointResult& result) {
    if (result.refusal == LoopPointRefusal::None) {
        emit loopChangeRequested(result.loop);
        return;
    }
    m_refusal = result.refusal == LoopPointRefusal::AAtEnd
                    ? QString::fromUtf8("A地点は曲の終わりより前に置いてください。")
                    : QString::fromUtf8("B地点はA地点より後ろに置いてください。");
    // Said where the learner looks, and gone by itself: a refusal changes nothing to dismiss.
    QToolTip::showText(mapToGlobal(QPoint(width() / 2, height())), m_refusal, this);
}

void CPositionBar::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_meter) {
        event->ignore();
        return;
    }
    QMenu* menu = BuildMenu(MsAt(event->pos().x()));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
