#pragma once

#include <cstdint>
#include <vector>

// The byte-level pieces of a Standard MIDI File, shared by every writer of test, benchmark and
// demo files. Files that are broken on purpose are built from these too.
namespace midi_file {

// A variable-length quantity: seven bits a byte, most significant first.
void PutVarLen(std::vector<uint8_t>& out, uint32_t value);
std::vector<uint8_t> VarLen(uint32_t value);

void Put32(std::vector<uint8_t>& out, uint32_t value);  // big-endian

// A chunk: its four-letter id, the body's length, the body.
void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body);

// The MThd chunk.
std::vector<uint8_t> HeaderChunk(uint16_t format, uint16_t tracks, uint16_t division);

// An event at an absolute tick, as it stands in a track after its delta time (status byte and
// data; a meta or system exclusive event with its length already in place).
struct TimedBytes {
    uint32_t tick;
    std::vector<uint8_t> bytes;
};

// The MTrk chunk: the events stable-sorted by tick, with delta times, then End of Track.
std::vector<uint8_t> TrackChunk(std::vector<TimedBytes> events);

}  // namespace midi_file
