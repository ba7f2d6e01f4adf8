#pragma once

#include <cstdint>
#include <vector>

// Standard MIDI File bytes of a generated song: 16 channels, about 300 channel messages a
// second, lasting `seconds`. With `lessonChords`, channel 1 (index 0) also carries a chord
// every 400 ms, and channel 2 a bass note-on at the same moment as each chord; channel 16 is
// then left free for the key lights.
std::vector<uint8_t> GenerateDenseSong(uint32_t seconds, bool lessonChords);
