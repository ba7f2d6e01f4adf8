#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Builds Standard MIDI File bytes by hand, so that tests can write exactly the damage they need.
namespace smf_bytes {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

inline Bytes VarLen(uint32_t value) {
    Bytes reversed{static_cast<uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) {
        reversed.push_back(static_cast<uint8_t>(0x80 | (value & 0x7F)));
    }
    return Bytes(reversed.rbegin(), reversed.rend());
}

inline Bytes Be32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

inline Bytes Chunk(const char* id, const Bytes& body) {
    Bytes out(id, id + 4);
    Append(out, Be32(static_cast<uint32_t>(body.size())));
    Append(out, body);
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
    return Chunk("MThd", {uint8_t(format >> 8), uint8_t(format), uint8_t(tracks >> 8),
                          uint8_t(tracks), uint8_t(division >> 8), uint8_t(division)});
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
