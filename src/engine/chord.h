#pragma once

#include <array>
#include <cstdint>

// Up to ten note-ons of the practice channels that start within 10 ms of each other.
struct Chord {
    static constexpr int kMaxNotes = 10;
    static constexpr uint32_t kPlayed = 0xFFFFFFFFu;  // slot of a note the player already held
    int32_t count = 0;
    std::array<uint32_t, kMaxNotes> index{};  // positions in the timeline
};
