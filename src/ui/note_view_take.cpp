// A take drawn over the song's notes in the falling-notes view.

#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "ui/keyboard_panel.h"
#include "ui/note_view.h"

namespace {

const QColor kOnTime(245, 245, 245);  // apart from every channel's colour
const QColor kEarly(70, 140, 255);
const QColor kLate(255, 160, 40);
const QColor kWrong(255, 60, 60);
const QColor kMissed(255, 230, 0);

// From the on-time colour toward the early or late one by how far off the note was.
QColor Shade(const QColor& toward, int32_t offsetMs) {
    const double f = std::clamp(
        (std::abs(offsetMs) - static_cast<double>(kOnTimeMs)) / (kTakeMatchMs - kOnTimeMs), 0.0,
        1.0);
    const double g = 0.35 + 0.65 * f;  // a note just off already leaves the on-time colour
    return QColor::fromRgbF(
        static_cast<float>(kOnTime.redF() + (toward.redF() - kOnTime.redF()) * g),
        static_cast<float>(kOnTime.greenF() + (toward.greenF() - kOnTime.greenF()) * g),
        static_cast<float>(kOnTime.blueF() + (toward.blueF() - kOnTime.blueF()) * g));
}

QColor ColourOf(const TakeComparison::Played& p) {
    switch (p.verdict) {
        case TakeComparison::Played::OnTime:
            return kOnTime;
        case TakeComparison::Played::Early:
            return Shade(kEarly, p.offsetMs);
        case TakeComparison::Played::Late:
            return Shade(kLate, p.offsetMs);
        case TakeComparison::Played::Wrong:
            break;
    }
    return kWrong;
}

}  // namespace

void CNoteView::SetTake(std::shared_ptr<const Take> take, std::optional<PracticeChoice> parts) {
    m_take = std::move(take);
    m_takeParts = parts;
    CompareShownTake();
    update();
}

void CNoteView::CompareShownTake() {
    if (!m_take || !m_notes) {
        m_comparison.reset();
        return;
    }
    m_comparison = CompareTake(*m_notes, m_takeParts.value_or(m_practice), *m_take);
}

void CNoteView::DrawTake(QPainter& painter, uint32_t viewMs, uint32_t lowMs, uint32_t topMs) const {
    if (!m_comparison) {
        return;
    }
    auto box = [&](uint8_t key, uint32_t start, uint32_t end) {
        const QRect column = m_columns[key];
        if (column.isNull() || end < lowMs || start > topMs) {
            return QRect();
        }
        const int bottom = YOf(start, viewMs);
        const int top = std::min(YOf(end, viewMs), bottom - 3);
        const int inset = CKeyboardPanel::IsBlack(key) ? 0 : 1;
        return QRect(column.left() + inset, top, column.width() - 2 * inset, bottom - top);
    };
    painter.setBrush(Qt::NoBrush);
    // Missed notes: their bar crossed out, so that what was left unplayed catches the eye.
    painter.setPen(QPen(kMissed, 2));
    for (const NoteSpan& n : m_comparison->missed) {
        const QRect r = box(n.key, n.start, n.end);
        if (!r.isNull()) {
            painter.drawLine(r.topLeft(), r.bottomRight());
            painter.drawLine(r.topRight(), r.bottomLeft());
        }
    }
    const auto& played = m_comparison->played;
    const auto first =
        std::lower_bound(played.begin(), played.end(), lowMs > 60000 ? lowMs - 60000 : 0,
                         [](const TakeComparison::Played& p, uint32_t ms) { return p.start < ms; });
    for (auto it = first; it != played.end() && it->start <= topMs; ++it) {
        const QRect r = box(it->key, it->start, it->end);
        if (!r.isNull()) {
            painter.setPen(QPen(ColourOf(*it), 2));
            painter.drawRect(r.adjusted(1, 1, -1, -1));
        }
    }
}
