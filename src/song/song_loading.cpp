#include "song/song_entry.h"

namespace {

// Channel messages carry their status byte in the kind; anything else (system exclusive,
// meta events) is not looked at here.
bool IsChannelMessage(const smf::Event& e) {
    return e.kind >= 0x80 && e.kind <= 0xEF;
}

}  // namespace

int LoadSong(SongEntry& entry) {
    if (entry.m_midiData != nullptr) {
        return SONG_OK;
    }
    if (!SongPathExists(entry.m_path)) {
        return SONG_FILE_NOT_FOUND;
    }
    std::unique_ptr<smf::Song> song = smf::LoadFromFile(entry.m_path);
    if (!song) {
        return SONG_NOT_MIDI;
    }
    entry.m_midiData = std::move(song);
    AnalyzeChannels(entry);
    return SONG_OK;
}

void AnalyzeChannels(SongEntry& entry) {
    for (ChannelInfo& channel : entry.m_channels) {
        channel.m_hasNotes = 0;
        channel.m_program = 0;
    }
    const smf::Song* song = entry.m_midiData.get();
    if (song == nullptr) {
        return;
    }
    // Each track contributes only its first program change, so a later track on the same
    // channel wins.
    for (const smf::Track& track : song->Tracks()) {
        for (const smf::Event& e : track.events) {
            if (IsChannelMessage(e) && (e.kind & 0xF0) == 0xC0 && e.length >= 2) {
                entry.m_channels[e.kind & 0x0F].m_program = song->Data(e)[1] & 0x7F;
                break;
            }
        }
    }
    // Each track marks only the channel of its first sounding note.
    for (const smf::Track& track : song->Tracks()) {
        for (const smf::Event& e : track.events) {
            if (IsChannelMessage(e) && (e.kind & 0xF0) == 0x90 && e.length >= 3 &&
                song->Data(e)[2] > 0) {
                entry.m_channels[e.kind & 0x0F].m_hasNotes = 1;
                break;
            }
        }
    }
}
