#include "ui/keyboard_panel.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QStaticText>

#include "engine/window_core.h"

namespace {

constexpr int kScreenKeyMouse = 1;
constexpr int kScreenKeyComputer = 2;

// The computer keys of the two octaves, C to the next C, in the order of the keys they play.
constexpr int kLowerRow[] = {Qt::Key_Z, Qt::Key_S, Qt::Key_X, Qt::Key_D, Qt::Key_C, Qt::Key_V,
                             Qt::Key_G, Qt::Key_B, Qt::Key_H, Qt::Key_N, Qt::Key_J, Qt::Key_M};
constexpr int kUpperRow[] = {Qt::Key_Q, Qt::Key_2, Qt::Key_W, Qt::Key_3, Qt::Key_E,
                             Qt::Key_R, Qt::Key_5, Qt::Key_T, Qt::Key_6, Qt::Key_Y,
                             Qt::Key_7, Qt::Key_U, Qt::Key_I};
constexpr int kLowerRowKey = 48;  // C3: the two octaves take in the demo songs' melodies
constexpr int kUpperRowKey = 60;  // C4

constexpr double kBlackWidth = 0.6;    // of a white key
constexpr double kBlackHeight = 0.62;  // of the panel

}  // namespace

CKeyboardPanel::CKeyboardPanel(CPelorvaneCore& core, QWidget* parent)
    : QWidget(parent), m_core(&core) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(
        QString::fromUtf8("マウスでクリックするか、パソコンのキーで弾けます。"
                          "Z S X D C V G B H N J M でC3から、Q 2 W 3 E R 5 T 6 Y 7 U I でC4から。"
                          "練習する手は F2 で両手、F3 で右手、F4 で左手。"
                          "右クリックで、1トラックの曲を左右に分ける鍵を選べます。"));
}

CKeyboardPanel::~CKeyboardPanel() {
    ReleaseAll();
}

bool CKeyboardPanel::IsBlack(int key) {
    const int n = key % 12;
    return n == 1 || n == 3 || n == 6 || n == 8 || n == 10;
}

int CKeyboardPanel::KeyOfComputerKey(int qtKey) {
    for (int i = 0; i < 12; ++i) {
        if (kLowerRow[i] == qtKey) {
            return kLowerRowKey + i;
        }
    }
    for (int i = 0; i < 13; ++i) {
        if (kUpperRow[i] == qtKey) {
            return kUpperRowKey + i;
        }
    }
    return -1;
}

void CKeyboardPanel::SetKeyRange(int low, int high) {
    low = std::clamp(std::min(low, static_cast<int>(kLowestKey)), 0, 127);
    high = std::clamp(std::max(high, static_cast<int>(kHighestKey)), 0, 127);
    low -= low % 12;                                     // down to a C
    high = std::min(127, high + (12 - high % 12) % 12);  // up to a C
    if (low == m_low && high == m_high) {
        return;
    }
    m_low = low;
    m_high = high;
    m_refreshedValid = false;
    update();
}

int CKeyboardPanel::WhiteCount() const {
    return WhiteIndex(m_high) + 1;
}

int CKeyboardPanel::WhiteIndex(int key) const {
    // Counted, not walked: every key's place is asked for on every repaint of the keyboard.
    static constexpr int kWhitesBelow[12] = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};
    const auto whitesBelow = [](int k) { return 7 * (k / 12) + kWhitesBelow[k % 12]; };
    return key <= m_low ? 0 : whitesBelow(key) - whitesBelow(m_low);
}

int CKeyboardPanel::WhiteLeft(int index) const {
    return index * (width() - 1) / WhiteCount();
}

QRect CKeyboardPanel::KeyRect(int key) const {
    if (key < m_low || key > m_high) {
        return {};
    }
    const int white = WhiteIndex(key);
    if (!IsBlack(key)) {
        return QRect(QPoint(WhiteLeft(white), 0), QPoint(WhiteLeft(white + 1), height() - 1));
    }
    const double whiteWidth = double(width() - 1) / WhiteCount();
    const int w = std::max(3, static_cast<int>(whiteWidth * kBlackWidth));
    const int center = WhiteLeft(white);
    return QRect(center - w / 2, 0, w, static_cast<int>(height() * kBlackHeight));
}

QPoint CKeyboardPanel::KeyPoint(int key) const {
    const QRect rect = KeyRect(key);
    if (rect.isNull()) {
        return {-1, -1};
    }
    if (IsBlack(key)) {
        return rect.center();
    }
    // Below the black keys.
    return QPoint(rect.center().x(), (static_cast<int>(height() * kBlackHeight) + height()) / 2);
}

int CKeyboardPanel::KeyAt(const QPoint& point) const {
    if (!rect().contains(point)) {
        return -1;
    }
    for (int k = m_low; k <= m_high; ++k) {
        if (IsBlack(k) && KeyRect(k).contains(point)) {
            return k;
        }
    }
    for (int k = m_low; k <= m_high; ++k) {
        if (!IsBlack(k) && KeyRect(k).contains(point)) {
            return k;
        }
    }
    return -1;
}

QColor CKeyboardPanel::ColorOf(KeyLook look, bool black) {
    switch (look) {
        case Lit:
            return black ? QColor(230, 140, 0) : QColor(255, 190, 40);
        case Held:
            return black ? QColor(40, 90, 210) : QColor(110, 160, 255);
        case Wrong:
            return black ? QColor(190, 0, 0) : QColor(240, 60, 60);
        case Plain:
        default:
            return black ? QColor(20, 20, 20) : QColor(255, 255, 255);
    }
}

bool CKeyboardPanel::Refresh(uint32_t nowMs) {
    if (!m_core) {
        return false;
    }
    const KeyState::Snapshot s = m_core->ReadKeyState();
    const bool flashOn = FlashPhaseOn(nowMs);
    // Most runs find the keys as they were; only a flashing key then changes, with its phase.
    if (m_refreshedValid && s == m_refreshed && (!m_flashing || flashOn == m_refreshedFlashOn)) {
        return false;
    }
    m_refreshed = s;
    m_refreshedFlashOn = flashOn;
    m_refreshedValid = true;
    bool changed = false;
    bool flashing = false;
    for (int k = m_low; k <= m_high; ++k) {
        KeyLook look = Plain;
        const bool preLit = TestKey(s.preLit, k);
        flashing = flashing || preLit;
        if (TestKey(s.wrong, k)) {
            look = Wrong;
        } else if (TestKey(s.held, k)) {
            look = Held;
        } else if (TestKey(s.lit, k) || (preLit && flashOn)) {
            look = Lit;
        }
        if (m_look[k] != look) {
            m_look[k] = look;
            RepaintKey(k);
            changed = true;
        }
    }
    m_flashing = flashing;
    return changed;
}

void CKeyboardPanel::RepaintKey(int key) {
    // A white key's neighbours' black keys overlap it; its whole rectangle is redrawn in order.
    update(KeyRect(key).adjusted(-1, -1, 1, 1));
}

void CKeyboardPanel::paintEvent(QPaintEvent* event) {
    // Most repaints are of a key or two: only what meets them is drawn.
    const QRect area = event->rect();
    QPainter painter(this);
    painter.fillRect(area, palette().window());
    const QColor line(90, 90, 90);
    // Key rectangles meet: each white key draws its left edge, the last one the right edge too.
    int right = 0;
    for (int k = m_low; k <= m_high; ++k) {
        if (!IsBlack(k)) {
            const QRect r = KeyRect(k);
            right = r.right();
            if (!r.adjusted(0, 0, 1, 0).intersects(area)) {
                continue;
            }
            painter.fillRect(r, ColorOf(static_cast<KeyLook>(m_look[k]), false));
            painter.fillRect(QRect(r.left(), 0, 1, height()), line);
        }
    }
    painter.fillRect(QRect(right, 0, 1, height()), line);
    painter.fillRect(QRect(0, 0, right + 1, 1), line);
    painter.fillRect(QRect(0, height() - 1, right + 1, 1), line);
    painter.setPen(line);
    for (int k = m_low; k <= m_high; ++k) {
        if (IsBlack(k)) {
            const QRect r = KeyRect(k);
            if (!r.intersects(area)) {
                continue;
            }
            painter.fillRect(r, ColorOf(static_cast<KeyLook>(m_look[k]), true));
            painter.drawRect(r.adjusted(0, 0, -1, -1));
        }
    }
    PaintComputerKeyLetters(painter, event->region());
    if (m_splitMark >= m_low && m_splitMark <= m_high) {
        // A notch over the left edge of the first key of the right hand.
        const QRect r = KeyRect(m_splitMark);
        const int x = IsBlack(m_splitMark) ? r.left() : r.left() + 1;
        painter.fillRect(QRect(x - 2, 1, 5, 4), QColor(220, 110, 0));
        painter.fillRect(QRect(x, 1, 1, height() / 3), QColor(220, 110, 0));
    }
    if (hasFocus()) {
        // Where the computer keys play: a thin line under the two octaves.
        painter.setPen(QPen(palette().highlight().color(), 2));
        const QRect first = KeyRect(std::max(m_low, kLowerRowKey));
        const QRect last = KeyRect(std::min(m_high, kUpperRowKey + 12));
        if (!first.isNull() && !last.isNull()) {
            painter.drawLine(first.left() + 2, height() - 3, last.right() - 2, height() - 3);
        }
    }
}

void CKeyboardPanel::PaintComputerKeyLetters(QPainter& painter, const QRegion& area) const {
    // The letters sit below the black keys on white keys and low on black ones, clear of the
    // middle of each key, where its look is read.
    const int blackBottom = static_cast<int>(height() * kBlackHeight);
    const int whiteTop = blackBottom + 1;
    const int whiteBottom = KeyPoint(kUpperRowKey).y() - 2;
    const int size = std::min(whiteBottom - whiteTop, blackBottom / 4);
    if (size < 7 || KeyRect(kUpperRowKey).width() < 7) {
        return;  // too small to read
    }
    QFont font = painter.font();
    font.setPixelSize(size);
    painter.setFont(font);
    // Laying out a letter costs more than the rest of a key, and a lit key repaints its letter
    // many times a second: each letter is laid out once per font and kept.
    if (m_letters.empty() || font != m_lettersFont) {
        m_letters.assign(std::size(kLowerRow) + std::size(kUpperRow), QStaticText());
        m_lettersFont = font;
    }
    int index = 0;
    auto paint = [&](int key, int qtKey) {
        const size_t slot = static_cast<size_t>(index++);
        if (key < m_low || key > m_high) {
            return;
        }
        const QRect r = KeyRect(key);
        const QRect box = IsBlack(key)
                              ? QRect(r.left(), blackBottom - size - 3, r.width(), size + 1)
                              : QRect(r.left(), whiteTop, r.width(), size + 1);
        // A wide letter may reach into its neighbours.
        if (!area.intersects(box.adjusted(-r.width(), -2, r.width(), 2))) {
            return;
        }
        QStaticText& letter = m_letters[slot];
        if (letter.text().isEmpty()) {
            letter.setText(QKeySequence(qtKey).toString());
            letter.setTextFormat(Qt::PlainText);
            letter.prepare(QTransform(), font);
        }
        const QSizeF extent = letter.size();
        painter.setPen(IsBlack(key) ? QColor(220, 220, 220) : QColor(120, 120, 120));
        painter.drawStaticText(QPointF(box.left() + (box.width() - extent.width()) / 2,
                                       box.top() + (box.height() - extent.height()) / 2),
                               letter);
    };
    for (int i = 0; i < 12; ++i) {
        paint(kLowerRowKey + i, kLowerRow[i]);
    }
    for (int i = 0; i < 13; ++i) {
        paint(kUpperRowKey + i, kUpperRow[i]);
    }
}

void CKeyboardPanel::Press(int key, bool scored) {
    if (!m_core) {
        return;
    }
    m_core->PlayScreenKey(key, true, scored);
    // Drawn pressed at once; the next refresh confirms it from the shared state.
    if (m_look[key] != Wrong && m_look[key] != Held) {
        m_look[key] = Held;
        m_refreshedValid = false;
        RepaintKey(key);
    }
}

void CKeyboardPanel::Release(int key) {
    if (m_core) {
        m_core->PlayScreenKey(key, false);
    }
}

void CKeyboardPanel::Detach() {
    ReleaseAll();
    m_core = nullptr;
}

void CKeyboardPanel::ReleaseAll() {
    for (int k = 0; k < 128; ++k) {
        if (m_pressed[k]) {
            m_pressed[k] = 0;
            Release(k);
        }
    }
    m_mouseKey = -1;
}

void CKeyboardPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The click that brings the focus here sounds its key but is not held against the learner:
    // it was meant for the keyboard, not for the song.
    const bool scored = hasFocus();
    setFocus(Qt::MouseFocusReason);
    const int key = KeyAt(event->position().toPoint());
    if (key < 0) {
        return;
    }
    m_mouseKey = key;
    if (!m_pressed[key]) {
        Press(key, scored);
    }
    m_pressed[key] |= kScreenKeyMouse;
}

void CKeyboardPanel::mouseMoveEvent(QMouseEvent* event) {
    if (m_mouseKey < 0 || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    // Sliding along the keys plays each in turn, as a finger would.
    const int key = KeyAt(event->position().toPoint());
    if (key == m_mouseKey) {
        return;
    }
    const int old = m_mouseKey;
    m_pressed[old] &= ~kScreenKeyMouse;
    if (!m_pressed[old]) {
        Release(old);
    }
    m_mouseKey = key;
    if (key >= 0) {
        if (!m_pressed[key]) {
            Press(key);
        }
        m_pressed[key] |= kScreenKeyMouse;
    }
}

void CKeyboardPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_mouseKey < 0) {
        return;
    }
    const int key = m_mouseKey;
    m_mouseKey = -1;
    m_pressed[key] &= ~kScreenKeyMouse;
    if (!m_pressed[key]) {
        Release(key);
    }
}

void CKeyboardPanel::keyPressEvent(QKeyEvent* event) {
    event->setAccepted(TakeComputerKeyPress(*event));  // Esc and the rest go on to the window
}

void CKeyboardPanel::keyReleaseEvent(QKeyEvent* event) {
    event->setAccepted(TakeComputerKeyRelease(*event));
}

bool CKeyboardPanel::TakeComputerKeyPress(const QKeyEvent& event) {
    const int key = event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)
                        ? -1
                        : KeyOfComputerKey(event.key());
    if (key < 0 || key < m_low || key > m_high) {
        return false;
    }
    if (event.isAutoRepeat()) {
        return true;
    }
    if (!m_pressed[key]) {
        Press(key);
    }
    m_pressed[key] |= kScreenKeyComputer;
    return true;
}

bool CKeyboardPanel::TakeComputerKeyRelease(const QKeyEvent& event) {
    // Only the key-ups of keys it holds: the others belong to whoever has them.
    const int key = KeyOfComputerKey(event.key());
    if (key < 0 || !(m_pressed[key] & kScreenKeyComputer)) {
        return false;
    }
    if (event.isAutoRepeat()) {
        return true;
    }
    m_pressed[key] &= ~kScreenKeyComputer;
    if (!m_pressed[key]) {
        Release(key);
    }
    return true;
}

void CKeyboardPanel::ReleaseComputerKeys() {
    for (int k = 0; k < 128; ++k) {
        if (m_pressed[k] & kScreenKeyComputer) {
            m_pressed[k] &= ~kScreenKeyComputer;
            if (!m_pressed[k]) {
                Release(k);
            }
        }
    }
}

void CKeyboardPanel::focusOutEvent(QFocusEvent* event) {
    // The computer keys play from anywhere in the window, so their key-ups still come here while
    // another control has the focus; only a window going to the background loses them.
    if (event->reason() == Qt::ActiveWindowFocusReason) {
        ReleaseComputerKeys();
    }
    update();
    QWidget::focusOutEvent(event);
}

void CKeyboardPanel::hideEvent(QHideEvent* event) {
    ReleaseAll();
    QWidget::hideEvent(event);
}
