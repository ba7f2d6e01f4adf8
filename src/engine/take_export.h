#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/take.h"

namespace smf {
class Song;
}

// A format-1 Standard MIDI File of the song with the take as a track of its own named
// trackName, after the song's tracks, at the song's own ticks. Nothing for a format-2 song,
// whose tracks are separate pieces with no common time to put the take on.
std::optional<std::vector<uint8_t>> SongWithTake(const smf::Song& song, const Take& take,
                                                 const std::string& trackName);
