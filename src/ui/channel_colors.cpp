#include "ui/channel_colors.h"

#include <array>

QColor ChannelColor(int channel) {
    // Neighbouring channels (a piano's two hands, often 1 and 2) get hues far apart; all are
    // bright enough to read on the view's dark ground.
    static const std::array<QColor, 16> kColors = {
        QColor(80, 200, 90),  QColor(70, 150, 255),  QColor(255, 150, 40),  QColor(230, 80, 200),
        QColor(240, 220, 60), QColor(60, 210, 210),  QColor(255, 90, 90),   QColor(160, 120, 255),
        QColor(170, 230, 80), QColor(190, 190, 190), QColor(255, 180, 200), QColor(40, 170, 140),
        QColor(210, 150, 90), QColor(120, 190, 255), QColor(200, 90, 255),  QColor(255, 210, 140)};
    return kColors[static_cast<size_t>(channel) & 15];
}

QColor FaintColor(const QColor& color, const QColor& background) {
    auto mix = [](int c, int b) { return (c * 3 + b * 7) / 10; };
    return QColor(mix(color.red(), background.red()), mix(color.green(), background.green()),
                  mix(color.blue(), background.blue()));
}
