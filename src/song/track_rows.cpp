#include "song/track_rows.h"

#include <cstdio>

#include "song/instrument_names.h"

std::vector<TrackRow> BuildTrackRows(const SongEntry& entry, std::array<int, 16>& channelRow) {
    channelRow.fill(-1);
    std::vector<TrackRow> rows;
    if (entry.m_midiData == nullptr) {
        return rows;
    }
    for (int ch = 0; ch < 16; ++ch) {
        const ChannelInfo& info = entry.m_channels[ch];
        if (info.m_hasNotes == 0) {
            continue;
        }
        std::optional<std::string> name = GetInstrumentName(info.m_program);
        char number[8];
        std::snprintf(number, sizeof number, "CH:%02d ", ch + 1);
        TrackRow row;
        row.text = number + (name ? *name : std::string("(未定義の楽器)"));
        row.channel = ch;
        row.checked = info.m_practice != 0;
        channelRow[ch] = static_cast<int>(rows.size());
        rows.push_back(std::move(row));
    }
    return rows;
}
