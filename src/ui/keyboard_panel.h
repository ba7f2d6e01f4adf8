#pragma once

#include <QFont>
#include <QStaticText>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "engine/key_state.h"
#include "engine/practice_choice.h"

class CPelorvaneCore;
class QPainter;

// A piano keyboard along the bottom of the main window. It shows what a keyboard with lit keys
// would show, whatever the output device, and the keys the player holds; it plays too, by mouse
// or with two octaves of the computer keyboard, as a MIDI keyboard on the input would.
class CKeyboardPanel : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kLowestKey = 36;   // C2
    static constexpr int kHighestKey = 96;  // C7

    // What a key is drawn as.
    enum KeyLook : uint8_t { Plain = 0, Lit = 1, Held = 2, Wrong = 3 };

    CKeyboardPanel(CPelorvaneCore& core, QWidget* parent);
    ~CKeyboardPanel() override;

    // Shows at least C2-C7, and whole octaves beyond that to take in low-high.
    void SetKeyRange(int low, int high);
    int LowKey() const { return m_low; }
    // Marks the key from which the right hand plays (-1: no mark).
    void SetSplitMark(int key);
    int SplitMark() const { return m_splitMark; }
    int HighKey() const { return m_high; }

    // Reads the shared key state at clock value nowMs and repaints the keys whose look changed;
    // true when something changed. Called by the window's idle routine.
    bool Refresh(uint32_t nowMs);
    // True when a shown key flashes, so the idle routine must keep coming often.
    bool Flashing() const { return m_flashing; }
    KeyLook Look(int key) const { return static_cast<KeyLook>(m_look[key & 0x7F]); }

    // Where a key is drawn, and a point inside the part of it that shows (-1 outside).
    QRect KeyRect(int key) const;
    QPoint KeyPoint(int key) const;
    int KeyAt(const QPoint& point) const;
    static bool IsBlack(int key);
    // The key a computer key plays, -1 for none.
    static int KeyOfComputerKey(int qtKey);

    // A computer key pressed or let go anywhere in the window: true when it was taken (a press
    // of one of the keyboard's keys, the key-up of one it holds).
    bool TakeComputerKeyPress(const QKeyEvent& event);
    bool TakeComputerKeyRelease(const QKeyEvent& event);
    // Lets go of the keys the computer keyboard holds: its key-ups will not come (the window
    // has gone to the background).
    void ReleaseComputerKeys();
    // Lets go of every key the screen keyboard holds.
    void ReleaseAll();
    // Lets go of every key and never reaches the core again: the window's core goes before its
    // child widgets do.
    void Detach();

    static QColor ColorOf(KeyLook look, bool black);

  signals:
    // From the keyboard's menu: a hand chosen, or the key from which the right hand plays.
    void handChosen(Hand hand);
    void splitRequested(int key);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    int WhiteIndex(int key) const;  // position among the white keys shown
    int WhiteCount() const;
    int WhiteLeft(int index) const;
    void Press(int key, bool scored = true);
    void Release(int key);
    void RepaintKey(int key);
    void PaintComputerKeyLetters(QPainter& painter, const QRegion& area) const;

    CPelorvaneCore* m_core;  // null once detached
    int m_splitMark = -1;
    int m_low = kLowestKey;
    int m_high = kHighestKey;
    std::array<uint8_t, 128> m_look{};     // KeyLook of each key as last painted
    std::array<uint8_t, 128> m_pressed{};  // held by this panel: bit 0 mouse, bit 1 keyboard
    int m_mouseKey = -1;
    bool m_flashing = false;
    // What the looks were last worked out from: while it stays the same, a refresh has nothing
    // to do. Anything else that sets a look clears m_refreshedValid.
    KeyState::Snapshot m_refreshed{};
    bool m_refreshedFlashOn = false;
    bool m_refreshedValid = false;
    // The computer keys' letters, laid out for m_lettersFont.
    mutable std::vector<QStaticText> m_letters;
    mutable QFont m_lettersFont;
};
