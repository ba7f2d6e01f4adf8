#pragma once

#include <QFont>
#include <QRect>

// Converts dialog units to pixels from a dialog font's metrics, the way dialog templates are
// laid out: one horizontal unit is a quarter of the average character width, one vertical unit
// an eighth of the character height. Layouts thus keep their proportions with any font.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int X(int units) const;
    int Y(int units) const;
    // Converts the corners separately so that neighbouring controls meet without gaps.
    QRect Rect(int x, int y, int width, int height) const;

    int m_baseX;
    int m_baseY;
};
