#include "ui/led_ctrl.h"

#include <QPainter>

CLEDCtrl::CLEDCtrl(QWidget* parent) : QFrame(parent) {
    // A sunken edge around the image, as a static control with a client edge has.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::NoFocus);
}

bool CLEDCtrl::LoadImageResource(QImage& image, int id) {
    const char* path = nullptr;
    switch (id) {
        case kLedOnBitmap:
            path = ":/res/led_on.bmp";
            break;
        case kLedOffBitmap:
            path = ":/res/led_off.bmp";
            break;
        default:
            return false;
    }
    QImage loaded(QString::fromLatin1(path));
    if (loaded.isNull()) {
        return false;
    }
    image = loaded;
    return true;
}

void CLEDCtrl::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    const QImage& image = m_lit ? m_imgOn : m_imgOff;
    if (image.isNull()) {
        return;
    }
    QPainter painter(this);
    const QRect client = contentsRect();
    if (m_stretch) {
        painter.drawImage(client, image);
    } else {
        painter.drawImage(client.topLeft(), image);
    }
}
