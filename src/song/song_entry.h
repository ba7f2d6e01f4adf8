#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "smf/smf.h"

class MessageSink;

// Result codes of loading and adding a song.
enum SongResult : int {
    SONG_OK = 0,
    SONG_FILE_NOT_FOUND = 1,
    SONG_NOT_MIDI = 2,
    SONG_ALREADY_LISTED = 3,
    SONG_PATH_NOT_LISTABLE = 4,  // the song list file cannot hold the path (see song_list.h)
};

struct ChannelInfo {
    uint8_t m_practice = 0;  // 1: the channel is a practice track
    uint8_t m_hasNotes = 0;  // 1: the first sounding note of some track is on this channel
    uint8_t m_program = 0;   // first program change found, 0 when none
};

// One song of the song list. A loaded song never changes, so copies of an entry share it, and it
// goes with the last of them.
struct SongEntry {
    std::string m_path;   // UTF-8
    std::string m_title;  // UTF-8
    std::shared_ptr<const smf::Song> m_midiData;
    std::array<ChannelInfo, 16> m_channels{};
};

// Loads the entry's file unless it is loaded already. SONG_OK, SONG_FILE_NOT_FOUND or
// SONG_NOT_MIDI.
int LoadSong(SongEntry& entry);

// Recomputes m_hasNotes and m_program of all channels from the loaded song.
void AnalyzeChannels(SongEntry& entry);

// Shows the user's message for SONG_FILE_NOT_FOUND, SONG_NOT_MIDI or SONG_PATH_NOT_LISTABLE;
// nothing for other codes.
void ShowLoadError(MessageSink& sink, const std::string& path, int code);

// A file that could not be added, with its result code.
struct LoadFailure {
    std::string path;
    int code = SONG_OK;
};

// The messages for the files of one drop that could not be added, in drop order: each its own
// message while there are few; more make one message that names the first few and counts the
// rest, so that a thousand missing files are not a thousand boxes.
void ShowLoadErrors(MessageSink& sink, const std::vector<LoadFailure>& failures);

// True when a file-system entry exists at path (paths longer than the platform allows fail).
bool SongPathExists(const std::string& path);

// Compares two paths the way the file system does (exactly on Linux).
bool SamePath(const std::string& a, const std::string& b);
