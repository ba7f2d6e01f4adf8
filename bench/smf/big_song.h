#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A large Standard MIDI File for measuring: a tempo track with many tempo changes and sixteen
// tracks, one per channel, of overlapping notes written with running status.
std::vector<uint8_t> MakeBigSong(uint32_t notes);

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
