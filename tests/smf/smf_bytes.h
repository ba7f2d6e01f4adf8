#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "midi_file_writer/midi_file_bytes.h"

// Builds Standard MIDI File bytes by hand, so that tests can write exactly the damage they need.
namespace smf_bytes {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

using midi_file::HeaderChunk;
using midi_file::VarLen;

inline Bytes Be32(uint32_t v) {
    Bytes out;
    midi_file::Put32(out, v);
    return out;
}

inline Bytes Chunk(const char* id, const Bytes& body) {
    Bytes out;
    midi_file::PutChunk(out, id, body);
    return out;
}

// A chunk whose length field says something else than the body's size.
inline Bytes ChunkWithLength(const char* id, uint32_t length, const Bytes& body) {
    Bytes out(id, id + 4);
    Append(out, Be32(length));
    Append(out, body);
    return out;
}

inline Bytes Header(uint16_t format, uint16_t tracks, uint16_t division) {
    return HeaderChunk(format, tracks, division);
}

// One event: delta time followed by the raw bytes (status may be left out for running status).
inline Bytes Ev(uint32_t delta, std::initializer_list<uint8_t> bytes) {
    Bytes out = VarLen(delta);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

inline Bytes Meta(uint32_t delta, uint8_t type, const Bytes& data) {
    Bytes out = VarLen(delta);
    out.push_back(0xFF);
    out.push_back(type);
    Append(out, VarLen(static_cast<uint32_t>(data.size())));
    Append(out, data);
    return out;
}

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Tempo(uint32_t delta, uint32_t microsPerQuarter) {
    return Meta(delta, 0x51,
                {uint8_t(microsPerQuarter >> 16), uint8_t(microsPerQuarter >> 8),
                 uint8_t(microsPerQuarter)});
}

inline Bytes EndOfTrack(uint32_t delta = 0) {
    return Meta(delta, 0x2F, {});
}

inline Bytes Track(std::initializer_list<Bytes> events) {
    Bytes body;
    for (const Bytes& e : events) {
        Append(body, e);
    }
    return Chunk("MTrk", body);
}

inline Bytes File(std::initializer_list<Bytes> chunks) {
    Bytes out;
    for (const Bytes& c : chunks) {
        Append(out, c);
    }
    return out;
}

}  // namespace smf_bytes
