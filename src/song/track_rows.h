#pragma once

#include <array>
#include <string>
#include <vector>

#include "song/song_entry.h"

// One row of the track check list.
struct TrackRow {
    std::string text;  // "CH:%02d <instrument name>"
    int channel = 0;   // item data: channel index 0-15
    bool checked = false;
};

// The rows for a song (empty for an unloaded one) and the channel -> row map (-1: no row).
std::vector<TrackRow> BuildTrackRows(const SongEntry& entry, std::array<int, 16>& channelRow);
