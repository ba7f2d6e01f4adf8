#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Tiny Standard MIDI Files for the tests, built byte by byte.

inline std::string VarLen(uint32_t value) {
    std::string out(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0) {
        out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    }
    return out;
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
    auto be32 = [](std::size_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    std::string out = "MThd" + be32(6) + std::string{0, 1, 0, static_cast<char>(tracks.size())} +
                      std::string{1, static_cast<char>(0xE0)};
    for (const std::string& events : tracks) {
        std::string body = events + Ev(0, {0xFF, 0x2F, 0x00});
        out += "MTrk" + be32(body.size()) + body;
    }
    return out;
}

// One note on channel 1, with a track name unless the title is empty.
inline std::string OneNoteSong(const std::string& title = "") {
    return SmfFile(
        {(title.empty() ? "" : NameEv(title)) + Ev(0, {0x90, 60, 100}) + Ev(480, {0x80, 60, 0})});
}
