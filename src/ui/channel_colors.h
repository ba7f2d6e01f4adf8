#pragma once

#include <QColor>

// The colour of a MIDI channel (0-15) in the falling-notes view and in its row of the track list.
QColor ChannelColor(int channel);
// A channel's colour faded toward background, for the channels not practised.
QColor FaintColor(const QColor& color, const QColor& background);
