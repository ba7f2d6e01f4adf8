#pragma once

#include <QFrame>
#include <QImage>
#include <cstdint>

// A mode indicator: shows the lit or the dark image. The main window writes m_lit and repaints
// the LED only when the value changed.
class CLEDCtrl : public QFrame {
  public:
    explicit CLEDCtrl(QWidget* parent = nullptr);

    // Loads bitmap resource id (130 lit, 129 dark) into image; false leaves the image empty.
    static bool LoadImageResource(QImage& image, int id);

    QImage m_imgOn;
    QImage m_imgOff;
    uint8_t m_lit = 0;
    uint8_t m_stretch = 1;  // 1: stretch over the client area, 0: own size at its top left

  protected:
    void paintEvent(QPaintEvent* event) override;
};

inline constexpr int kLedOffBitmap = 129;
inline constexpr int kLedOnBitmap = 130;
