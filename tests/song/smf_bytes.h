#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "midi_file_writer/midi_file_bytes.h"

// Tiny Standard MIDI Files for the tests, built byte by byte.

inline std::string VarLen(uint32_t value) {
    const std::vector<uint8_t> bytes = midi_file::VarLen(value);
    return std::string(bytes.begin(), bytes.end());
}

// One event: delta time, then its bytes.
inline std::string Ev(uint32_t delta, std::initializer_list<int> bytes) {
    std::string out = VarLen(delta);
    for (int b : bytes) {
        out += static_cast<char>(b);
    }
    return out;
}

inline std::string NameEv(const std::string& text) {
    return VarLen(0) + "\xFF\x03" + VarLen(static_cast<uint32_t>(text.size())) + text;
}

// A format 1 file, 480 ticks per quarter; each track gets its End of Track.
inline std::string SmfFile(const std::vector<std::string>& tracks) {
    std::vector<uint8_t> out = midi_file::HeaderChunk(1, static_cast<uint16_t>(tracks.size()), 480);
    for (const std::string& events : tracks) {
        const std::string body = events + Ev(0, {0xFF, 0x2F, 0x00});
        midi_file::PutChunk(out, "MTrk", std::vector<uint8_t>(body.begin(), body.end()));
    }
    return std::string(out.begin(), out.end());
}

// One note on channel 1, with a track name unless the title is empty.
inline std::string OneNoteSong(const std::string& title = "") {
    return SmfFile(
        {(title.empty() ? "" : NameEv(title)) + Ev(0, {0x90, 60, 100}) + Ev(480, {0x80, 60, 0})});
}
