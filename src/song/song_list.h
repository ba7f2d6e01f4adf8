#pragma once

#include <string>
#include <vector>

#include "song/song_entry.h"

// The user's songs in list order. Row i of the song list box shows entry i. The list holds every
// loaded song of its entries.
struct SongList {
    std::vector<SongEntry> m_entries;
};

inline constexpr const char* kSongListFileName = "songlist.txt";

// Adds (or finds) the song at path: SONG_OK (appended and loaded), SONG_ALREADY_LISTED,
// SONG_FILE_NOT_FOUND, SONG_NOT_MIDI or SONG_PATH_NOT_LISTABLE.
int AddSong(SongList& list, const std::string& path);

// Removes entry index (its song goes with the last entry sharing it); false when index is out
// of range.
bool RemoveSong(SongList& list, std::size_t index);

// order[row] is the old index of the song that now stands at row. False, with nothing changed,
// when the count differs from the list size, an index is out of range or named twice.
bool ReorderSongs(SongList& list, std::size_t count, const int* order);

// Appends the songs of the file to the list (unloaded). False when the file cannot be opened.
bool ReadSongList(SongList& list, const std::string& path = kSongListFileName);

// Parses one line of the song list file; false when the line is skipped.
bool ParseSongListLine(const std::string& line, SongEntry& entry);

// True when a line of the song list file brings path back as it is: false for a path with a
// line break or with the separator ", " in it, which would split or cut its line.
bool SongListCanHold(const std::string& path);

// Formats one line of the song list file (without line end).
std::string FormatSongListLine(const SongEntry& entry);

// Writes the whole list. False when the file could not be written; the old file is then whole.
bool SaveSongList(const SongList& list, const std::string& path = kSongListFileName);

// Empties the list; each loaded song goes with the last entry sharing it.
void FreeSongList(SongList& list);
