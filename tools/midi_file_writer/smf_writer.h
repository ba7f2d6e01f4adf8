#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "smf/smf.h"

// Writes small Standard MIDI Files for the tests and benchmarks. With the default division of 500
// ticks per quarter note and the default tempo (120 per minute), one tick is one millisecond.
class SmfWriter {
  public:
    explicit SmfWriter(uint16_t division = 500) : m_division(division) {}

    // Starts a new track; events go into the newest track (one is there from the start).
    SmfWriter& NewTrack();
    // Any message given as its bytes: a channel message with its status byte, a system
    // exclusive message starting with F0 (or F7), or a meta event as FF, type, length, data.
    SmfWriter& Add(uint32_t tick, std::vector<uint8_t> bytes);
    SmfWriter& NoteOn(uint32_t tick, int channel, int key, int velocity = 100);
    SmfWriter& NoteOff(uint32_t tick, int channel, int key);
    SmfWriter& Note(uint32_t tick, int channel, int key, uint32_t length, int velocity = 100);
    SmfWriter& Control(uint32_t tick, int channel, int controller, int value);
    SmfWriter& Tempo(uint32_t tick, uint32_t microsPerQuarter);

    std::vector<uint8_t> Bytes() const;
    std::unique_ptr<smf::Song> Load() const;

  private:
    struct Item {
        uint32_t tick;
        std::vector<uint8_t> bytes;
    };
    uint16_t m_division;
    std::vector<std::vector<Item>> m_tracks{1};
};
