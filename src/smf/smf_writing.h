#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writing Standard MIDI Files: the takes the history keeps and the files exported from them.
namespace smf {

// An event at an absolute tick, as it stands in a track after its delta time: status byte and
// data, or a meta or system exclusive event with its length in place.
struct TimedBytes {
    uint32_t tick;
    std::vector<uint8_t> bytes;
};

void PutVarLen(std::vector<uint8_t>& out, uint32_t value);
void Put32(std::vector<uint8_t>& out, uint32_t value);  // big-endian
// A chunk: its four-letter id, the body's length, the body.
void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body);

// A meta event of the type with its data.
std::vector<uint8_t> MetaBytes(uint8_t type, const std::string& data);

// The MThd chunk.
std::vector<uint8_t> HeaderChunk(uint16_t format, uint16_t tracks, uint16_t division);

// The MTrk chunk: the events in tick order (equal ticks as given), with delta times, then End
// of Track at endTick or just after the last event, whichever is later.
std::vector<uint8_t> TrackChunk(std::vector<TimedBytes> events, uint32_t endTick = 0);

}  // namespace smf
