#pragma once

#include <cstddef>
#include <cstdint>

// One timed message of the timeline. Kept small and fixed-size so that the player can step
// through millions of them by index; the bytes of a system exclusive message live in a side
// table of the Timeline.
struct PerformanceEvent {
    uint32_t time = 0;    // ms from the start of the song at normal speed
    uint8_t status = 0;   // 0x80-0xE0 without channel bits, or 0xF0 / 0xF7
    uint8_t channel = 0;  // channel messages: 0-15
    uint8_t data1 = 0;    // channel messages
    uint8_t data2 = 0;    // channel messages; 0 for the one-data-byte kinds
    uint8_t sortKey = 0;  // see TimelineSortKey
    uint8_t reserved[3] = {};
    uint32_t sysex = 0;  // system exclusive: index into the Timeline's sysex table

    // The song track the event came from, up to kMaxTrack, kept in spare bytes: the part map
    // gives a note its hand by it.
    static constexpr uint32_t kMaxTrack = 0xFFFF;
    uint32_t Track() const { return reserved[1] | uint32_t{reserved[2]} << 8; }
    void SetTrack(std::size_t track) {
        const uint32_t t = track < kMaxTrack ? static_cast<uint32_t>(track) : kMaxTrack;
        reserved[1] = static_cast<uint8_t>(t);
        reserved[2] = static_cast<uint8_t>(t >> 8);
    }

    bool IsSysex() const { return status >= 0xF0; }
    bool IsNoteOn() const { return status == 0x90 && data2 > 0; }
    bool IsNoteOff() const { return status == 0x80 || (status == 0x90 && data2 == 0); }
};
static_assert(sizeof(PerformanceEvent) <= 16, "the timeline must stay compact");

// Bytes of one system exclusive message, stored in the Timeline's byte pool.
struct SysexRef {
    uint32_t offset = 0;
    uint32_t length = 0;
};

// Within one millisecond, system exclusive messages go first: a reset at the start of a song
// must not undo the program changes and volumes that share its time, and a message continued in
// several packets must keep its packets in order. Channel messages follow by channel.
inline uint8_t TimelineSortKey(const PerformanceEvent& e) {
    return e.IsSysex() ? 0 : static_cast<uint8_t>(e.channel + 1);
}

inline uint64_t SortKeyOf(const PerformanceEvent& e) {
    return (uint64_t{e.time} << 8) | e.sortKey;
}
