#include "ui/note_view.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "engine/performance.h"
#include "engine/song_clock.h"
#include "engine/window_core.h"
#include "platform/clock.h"
#include "smf/meter_map.h"
#include "ui/channel_colors.h"
#include "ui/keyboard_panel.h"

const QColor CNoteView::kBackground(28, 30, 36);

namespace {

const QColor kBarLine(80, 84, 96);
const QColor kBarNumber(150, 154, 166);
const QColor kOctaveLine(40, 43, 52);
const QColor kLoopShade(70, 110, 190, 60);
const QColor kLoopEdge(110, 150, 230);
const QColor kAwaitedEdge(255, 255, 255);

constexpr int kMarkHeight = 6;  // the strip over a held or wrong key at the keyboard's edge
// Three periods of a 60 Hz display: a low view's two-row steps keep their pace, and the window's
// periodic work that rides on the frames (key lights, the fading bars) is never later than this.
constexpr qint64 kLongestFrameGapNs = 51000000;

}  // namespace

CNoteView::CNoteView(CPelorvaneCore& core, const CKeyboardPanel& keyboard, QWidget* parent)
    : QWidget(parent), m_core(core), m_keyboard(keyboard) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &CNoteView::OnFrame);
    m_frameClock.start();
    const QByteArray logPath = qgetenv("PELORVANE_FRAME_LOG");
    if (!logPath.isEmpty()) {
        m_frameLog = std::make_unique<QFile>(QString::fromLocal8Bit(logPath));
        if (!m_frameLog->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            m_frameLog.reset();
        }
        m_frameLogClock.start();
    }
}

CNoteView::~CNoteView() = default;

void CNoteView::SetSong(std::shared_ptr<const NoteSpans> notes,
                        std::shared_ptr<const smf::MeterMap> meter) {
    m_notes = std::move(notes);
    m_meter = std::move(meter);
    m_barLabels.clear();
    m_take.reset();
    m_comparison.reset();
    update();
}

void CNoteView::SetPracticeChoice(PracticeChoice choice) {
    if (choice != m_practice) {
        m_practice = choice;
        CompareShownTake();
        update();
    }
}

void CNoteView::SetLoop(std::optional<LoopSpan> loop) {
    if (loop != m_loop) {
        m_loop = loop;
        update();
    }
}

void CNoteView::SetSpanMs(int spanMs) {
    spanMs = std::clamp(spanMs, kMinSpanMs, kMaxSpanMs);
    if (spanMs != m_spanMs) {
        m_spanMs = spanMs;
        update();
    }
}

void CNoteView::SetOthersHidden(bool hidden) {
    if (hidden != m_othersHidden) {
        m_othersHidden = hidden;
        update();
    }
}

uint32_t CNoteView::SongTimeAt(uint32_t nowMs) const {
    if (m_core.CurrentPlayState() == Stopped) {
        return m_core.ShownSongTime();
    }
    return m_core.ReadSongClock().At(nowMs);
}

int64_t CNoteView::RowOf(uint32_t songMs) const {
    return int64_t{songMs} * height() / m_spanMs;
}

int CNoteView::YOf(uint32_t songMs, uint32_t viewMs) const {
    // Every song time sits on one grid of whole pixels, whatever the view's moment: as the song
    // moves, all that is drawn moves by the same whole pixels, and a frame can shift the last
    // one's picture instead of drawing it all again.
    const int64_t offset = RowOf(songMs) - RowOf(viewMs);
    return static_cast<int>(std::clamp<int64_t>(height() - offset, -1000000, 1000000));
}

void CNoteView::UpdateColumns() const {
    const QPoint shift = m_keyboard.mapTo(window(), QPoint(0, 0)) - mapTo(window(), QPoint(0, 0));
    const QRect key(m_keyboard.LowKey(), m_keyboard.HighKey(), m_keyboard.width(), shift.x());
    if (key == m_columnsFor) {
        return;
    }
    m_columnsFor = key;
    m_columns.fill(QRect());
    for (int k = m_keyboard.LowKey(); k <= m_keyboard.HighKey(); ++k) {
        const QRect r = m_keyboard.KeyRect(k);
        m_columns[static_cast<size_t>(k)] = QRect(r.left() + shift.x(), 0, r.width(), 1);
    }
}

QRect CNoteView::KeyColumn(int key) const {
    UpdateColumns();
    const QRect c = m_columns[static_cast<size_t>(key & 0x7F)];
    return c.isNull() ? QRect() : QRect(c.left(), 0, c.width(), height());
}

CNoteView::Look CNoteView::CurrentLook(uint32_t nowMs) const {
    Look look;
    look.songMs = SongTimeAt(nowMs);
    look.keys = m_core.ReadKeyState();
    look.waiting = m_core.CurrentPlayState() != Stopped && m_core.ReadSongClock().waiting;
    // A key of the awaited chord goes dark once played: the chord crosses it off.
    if (look.waiting) {
        for (size_t w = 0; w < 2; ++w) {
            look.crossed[w] = look.keys.awaited[w] & ~look.keys.lit[w];
        }
    }
    // Only what this view draws of the keys counts.
    look.keys.lit = {};
    look.keys.preLit = {};
    return look;
}

bool CNoteView::Moving() const {
    const PlayState state = m_core.CurrentPlayState();
    if (state == Stopped) {
        return false;
    }
    const SongClock::Reading r = m_core.ReadSongClock();
    return state == Starting || !r.waiting;
}

void CNoteView::Refresh(uint32_t nowMs) {
    if (!isVisible() || height() <= 0) {
        if (m_frameTimer.isActive()) {
            m_frameTimer.stop();
            emit framesEnded();
        }
        return;
    }
    if (Moving()) {
        if (!m_frameTimer.isActive()) {
            m_nextFrameNs = m_frameClock.nsecsElapsed();
            const QScreen* s = screen();
            const double rate = s ? std::clamp(s->refreshRate(), 30.0, 240.0) : 60.0;
            m_frameNs = static_cast<qint64>(1e9 / rate);
            update();
            ScheduleFrame();
        }
        return;
    }
    if (m_frameTimer.isActive()) {
        m_frameTimer.stop();  // the last frame shows where the song stopped
        update();
        emit framesEnded();
    } else if (CurrentLook(nowMs) != m_painted) {
        update();
    }
}

qint64 CNoteView::NsToNextStep() const {
    const SongClock::Reading r = m_core.ReadSongClock();
    const int64_t h = height();
    if (!r.playing || r.waiting || r.speedPercent == 0 || h <= 0) {
        return 0;
    }
    const uint32_t songMs = r.At(NowMs());
    if (songMs >= r.holdMs) {
        return 0;
    }
    // Where rows come slower than the display's periods, a frame for every row would cost
    // nearly a frame a period for a slow motion: a step is two rows then, which halves the
    // frames of a low view or a slow speed while the notes still move at most two pixels a time.
    const int64_t rowNs = int64_t{m_spanMs} * 100 * 1000000 / (h * r.speedPercent);
    const int64_t rows = rowNs > m_frameNs ? 2 : 1;
    // The first song time on that row of the grid, and the clock time until it is reached.
    const int64_t next = ((RowOf(songMs) + rows) * m_spanMs + h - 1) / h;
    const int64_t songAhead = std::max<int64_t>(0, next - songMs);
    return songAhead * 100 * 1000000 / r.speedPercent;
}

void CNoteView::ScheduleFrame() {
    // Frames keep to the display's period on average, though the timer counts whole ms.
    const qint64 now = m_frameClock.nsecsElapsed();
    const qint64 lastDue = m_nextFrameNs;
    m_nextFrameNs += m_frameNs;
    if (m_nextFrameNs < now) {
        m_nextFrameNs = now + m_frameNs;  // fell behind: start the rhythm anew
    }
    // A frame before the notes have moved a step would show the same picture, or nearly: in a
    // low view or at a slow speed it waits whole display periods more, up to the longest gap.
    const qint64 stepAt = now + NsToNextStep();
    while (stepAt > m_nextFrameNs && m_nextFrameNs + m_frameNs - now <= kLongestFrameGapNs) {
        m_nextFrameNs += m_frameNs;
    }
    m_frameGapNs = m_nextFrameNs - lastDue;
    m_frameTimer.start(static_cast<int>((m_nextFrameNs - now + 500000) / 1000000));
}

void CNoteView::Advance() {
    UpdateColumns();
    const Look next = CurrentLook(NowMs());
    Look moved = m_painted;
    moved.songMs = next.songMs;
    const int64_t shift = RowOf(next.songMs) - RowOf(m_painted.songMs);
    if (moved != next || next.waiting || shift < 0 || shift >= height() ||
        m_paintedFor != m_columnsFor || m_paintedSize != size()) {
        update();
        return;
    }
    // Only the song has moved: what is drawn slides down and the new strip at the top is drawn.
    m_painted.songMs = next.songMs;
    if (shift > 0) {
        scroll(0, static_cast<int>(shift));
    }
    // Held and wrong keys glow along their whole column, which stays where it is.
    for (int k = m_keyboard.LowKey(); k <= m_keyboard.HighKey(); ++k) {
        if (TestKey(next.keys.held, k) || TestKey(next.keys.wrong, k)) {
            update(KeyColumn(k));
        }
    }
}

void CNoteView::OnFrame() {
    Advance();
    if (Moving() && isVisible()) {
        ScheduleFrame();
        emit frameDue();
        return;
    }
    // This frame shows where the song stopped and the idle routine takes over.
    emit framesEnded();
}

void CNoteView::DrawBars(QPainter& painter, uint32_t viewMs) const {
    const int w = width();
    const uint32_t topMs = viewMs + static_cast<uint32_t>(m_spanMs);
    if (m_loop) {
        const int top = YOf(m_loop->b, viewMs);
        const int bottom = YOf(m_loop->a, viewMs);
        if (bottom > 0 && top < height()) {
            painter.fillRect(QRect(0, top, w, bottom - top), kLoopShade);
            painter.fillRect(QRect(0, top, w, 1), kLoopEdge);
            painter.fillRect(QRect(0, bottom - 1, w, 1), kLoopEdge);
        }
    }
    if (!m_meter) {
        return;
    }
    // From the bar before: a line on the bottom row may belong to a bar that began a moment ago.
    const uint32_t last = m_meter->BarCount() + 1;
    const uint32_t first = m_meter->AtMs(viewMs).bar;
    for (uint32_t bar = first > 1 ? first - 1 : first; bar <= last; ++bar) {
        const uint32_t ms = m_meter->BarStartMs(bar);
        if (ms > topMs) {
            break;
        }
        painter.fillRect(QRect(0, YOf(ms, viewMs) - 1, w, 1), kBarLine);
    }
}

void CNoteView::DrawBarNumbers(QPainter& painter, uint32_t viewMs) {
    if (!m_meter) {
        return;
    }
    // Over the notes, on a patch of the ground, so that a note at the left edge never hides them.
    // Laying out text is the dearest thing in a frame: each label is drawn once and kept.
    // A label sits above its line and slides out at the bottom after it, as a shifted frame
    // shows it: bars that began up to a label's height ago still count.
    const uint32_t topMs = viewMs + static_cast<uint32_t>(m_spanMs);
    const uint32_t last = m_meter->BarCount() + 1;
    const qreal ratio = devicePixelRatioF();
    if (m_labelHeight < 0) {
        m_labelHeight = QFontMetrics(font()).height();
    }
    const int64_t labelMs = int64_t{m_labelHeight + 3} * m_spanMs / std::max(1, height()) + 1;
    const uint32_t from = viewMs - static_cast<uint32_t>(std::min<int64_t>(viewMs, labelMs));
    for (uint32_t bar = m_meter->AtMs(from).bar; bar <= last; ++bar) {
        const uint32_t ms = m_meter->BarStartMs(bar);
        if (ms > topMs) {
            break;
        }
        auto label = m_barLabels.find(bar);
        if (label == m_barLabels.end()) {
            const QFontMetrics metrics(font());
            const QString text = QString::number(bar);
            const QSize size(metrics.horizontalAdvance(text) + 4, metrics.height());
            QPixmap pixmap(size * ratio);
            pixmap.setDevicePixelRatio(ratio);
            pixmap.fill(kBackground);
            QPainter p(&pixmap);
            p.setFont(font());
            p.setPen(kBarNumber);
            p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, text);
            p.end();
            label = m_barLabels.insert(bar, pixmap);
        }
        const QSize size = label->deviceIndependentSize().toSize();
        painter.drawPixmap(1, YOf(ms, viewMs) - 2 - size.height(), *label);
    }
}

const QPixmap& CNoteView::Ground() {
    if (m_groundSize == size() && m_groundFor == m_columnsFor && !m_ground.isNull()) {
        return m_ground;
    }
    const qreal ratio = devicePixelRatioF();
    m_ground = QPixmap(size() * ratio);
    m_ground.setDevicePixelRatio(ratio);
    m_ground.fill(kBackground);
    QPainter p(&m_ground);
    // A faint line at every C helps find a key.
    for (int k = m_keyboard.LowKey(); k <= m_keyboard.HighKey(); ++k) {
        const QRect c = m_columns[static_cast<size_t>(k)];
        if (!c.isNull() && k % 12 == 0) {
            p.fillRect(QRect(c.left(), 0, 1, height()), kOctaveLine);
        }
    }
    p.end();
    m_groundSize = size();
    m_groundFor = m_columnsFor;
    return m_ground;
}

void CNoteView::AddNote(const NoteSpan& note, uint32_t viewMs, const Look& look) {
    const QRect column = m_columns[note.key];
    if (column.isNull()) {
        return;
    }
    const bool practice = IsPractised(Part{note.channel, note.hand}, m_practice);
    // The other hand of a practised channel stays in view, faint, when the rest is hidden.
    if (!practice && m_othersHidden && !m_practice.HasChannel(note.channel)) {
        return;
    }
    const int bottom = YOf(note.start, viewMs);
    const int top = std::min(YOf(note.end, viewMs), bottom - 2);
    const int inset = CKeyboardPanel::IsBlack(note.key) ? 0 : 1;
    const QRect bar(column.left() + inset + 1, top, column.width() - 2 * inset - 1, bottom - top);
    // The chord the lesson waits for stands out until its keys are held; those held already
    // fade, so that what is still missing is what catches the eye.
    if (practice && look.waiting && TestKey(look.keys.awaited, note.key) &&
        note.start + 1 >= viewMs && note.start <= viewMs + Performance::kChordWindow) {
        if (TestKey(look.crossed, note.key)) {
            m_crossedBars[note.channel].append(bar);
            return;
        }
        m_awaitedBars.append(bar);
    }
    m_batches[note.channel + (practice ? 16 : 0)].append(bar);
}

void CNoteView::paintEvent(QPaintEvent* event) {
    const qint64 started = m_frameClock.nsecsElapsed();
    UpdateColumns();
    // A part of the view is drawn as the rest of it stands: at the moment last drawn.
    const bool whole = event->region() == QRegion(rect());
    if (whole) {
        m_painted = CurrentLook(NowMs());
        m_paintedFor = m_columnsFor;
        m_paintedSize = size();
    }
    const Look look = m_painted;
    const uint32_t viewMs = look.songMs;
    const QRect area = event->region().boundingRect() & rect();

    QPainter painter(this);
    painter.drawPixmap(
        area, Ground(),
        QRectF(area.topLeft() * devicePixelRatioF(), area.size() * devicePixelRatioF()));
    DrawBars(painter, viewMs);

    if (m_notes) {
        // Bars are gathered by colour and drawn a colour at a time: a dense song has a thousand
        // in view.
        for (QVector<QRect>& batch : m_batches) {
            batch.clear();
        }
        m_awaitedBars.clear();
        for (QVector<QRect>& crossed : m_crossedBars) {
            crossed.clear();
        }
        // The song times the area spans, with a few rows to spare for the shortest bars.
        const int64_t h = height();
        const int64_t rowMs = m_spanMs / std::max<int64_t>(h, 1) + 1;
        const auto timeAt = [&](int64_t y) {
            return std::clamp<int64_t>(
                int64_t{viewMs} + (h - y) * m_spanMs / std::max<int64_t>(h, 1), viewMs,
                int64_t{viewMs} + m_spanMs);
        };
        // Below the bottom too: a note that ended a moment ago may still cover the bottom row.
        const uint32_t lowMs =
            static_cast<uint32_t>(std::max<int64_t>(0, timeAt(area.bottom() + 1) - 3 * rowMs));
        const uint32_t topMs = static_cast<uint32_t>(
            std::min<int64_t>(int64_t{viewMs} + m_spanMs, timeAt(area.top()) + 3 * rowMs));
        auto add = [&](const NoteSpan& n) {
            if (n.end >= lowMs && n.start <= topMs) {
                AddNote(n, viewMs, look);
            }
        };
        for (const NoteSpan& n : m_notes->Long()) {
            add(n);
        }
        const auto [first, last] = m_notes->Within(lowMs, topMs);
        const std::vector<NoteSpan>& shortNotes = m_notes->Short();
        for (size_t i = first; i < last; ++i) {
            add(shortNotes[i]);
        }
        painter.setPen(Qt::NoPen);
        // The other channels first, so that the practised notes are drawn over them.
        for (int i = 0; i < 32; ++i) {
            if (m_batches[i].isEmpty()) {
                continue;
            }
            const QColor color = ChannelColor(i & 15);
            painter.setBrush(i < 16 ? FaintColor(color, kBackground) : color);
            painter.drawRects(m_batches[i]);
        }
        for (int ch = 0; ch < 16; ++ch) {
            if (m_crossedBars[ch].isEmpty()) {
                continue;
            }
            const QColor color = ChannelColor(ch);
            painter.setPen(Qt::NoPen);
            painter.setBrush(FaintColor(color, kBackground));
            painter.drawRects(m_crossedBars[ch]);
            painter.setPen(QPen(color, 1));
            for (const QRect& bar : m_crossedBars[ch]) {
                painter.drawLine(bar.topLeft(), bar.bottomRight());
                painter.drawLine(bar.topRight(), bar.bottomLeft());
            }
        }
        painter.setPen(QPen(kAwaitedEdge, 2));
        painter.setBrush(Qt::NoBrush);
        for (const QRect& bar : m_awaitedBars) {
            painter.drawRect(bar.adjusted(1, 1, -1, -1));
        }
        DrawTake(painter, viewMs, lowMs, topMs);
    }

    DrawBarNumbers(painter, viewMs);

    // Held and wrong keys, as the screen keyboard shows them, where the notes meet it.
    const bool marked =
        (look.keys.held[0] | look.keys.held[1] | look.keys.wrong[0] | look.keys.wrong[1]) != 0;
    for (int k = m_keyboard.LowKey(); marked && k <= m_keyboard.HighKey(); ++k) {
        const bool wrong = TestKey(look.keys.wrong, k);
        if (!wrong && !TestKey(look.keys.held, k)) {
            continue;
        }
        const QRect c = m_columns[static_cast<size_t>(k)];
        const QColor mark = CKeyboardPanel::ColorOf(
            wrong ? CKeyboardPanel::Wrong : CKeyboardPanel::Held, CKeyboardPanel::IsBlack(k));
        QColor glow = mark;
        glow.setAlpha(50);
        painter.fillRect(QRect(c.left() + 1, 0, c.width() - 1, height() - kMarkHeight), glow);
        painter.fillRect(QRect(c.left() + 1, height() - kMarkHeight, c.width() - 1, kMarkHeight),
                         mark);
    }
    ++m_framesPainted;
    RecordFrameTime(m_frameClock.nsecsElapsed() - started);
}

void CNoteView::RecordFrameTime(qint64 ns) {
    if (!m_frameLog) {
        return;
    }
    m_frameTimes.push_back(ns);
    if (m_frameLogClock.elapsed() < 1000) {
        return;
    }
    const qint64 ms = m_frameLogClock.restart();
    std::sort(m_frameTimes.begin(), m_frameTimes.end());
    const size_t n = m_frameTimes.size();
    const qint64 p99 = m_frameTimes[std::min(n - 1, (n * 99) / 100)];
    const QString line = QStringLiteral("frames %1 ms %2 p99_us %3 max_us %4\n")
                             .arg(n)
                             .arg(ms)
                             .arg(p99 / 1000)
                             .arg(m_frameTimes.back() / 1000);
    m_frameLog->write(line.toUtf8());
    m_frameLog->flush();
    m_frameTimes.clear();
}

void CNoteView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_labelHeight = -1;
        m_barLabels.clear();
    }
    QWidget::changeEvent(event);
}

void CNoteView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QWidget::wheelEvent(event);
        return;
    }
    event->accept();
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) {
        return;
    }
    // Up brings the notes closer: less song time in view.
    const double span = m_spanMs * std::pow(0.8, steps);
    const int before = m_spanMs;
    SetSpanMs(static_cast<int>(std::lround(span / 100.0) * 100));
    if (m_spanMs != before) {
        emit spanChanged(m_spanMs);
    }
}

void CNoteView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* hide = menu.addAction(QStringLiteral("練習しないチャンネルを隠す"));
    hide->setCheckable(true);
    hide->setChecked(m_othersHidden);
    if (menu.exec(event->globalPos()) == hide) {
        SetOthersHidden(!m_othersHidden);
        emit othersHiddenChanged(m_othersHidden);
    }
}
