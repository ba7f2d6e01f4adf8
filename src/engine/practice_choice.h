#pragma once

#include <cstdint>

// A hand of a channel played by two. For a note, Both: its channel is not divided into hands;
// for a choice, both hands.
enum class Hand : uint8_t { Both = 0, Right = 1, Left = 2 };

// What the learner has chosen to practise in the song being played: the ticked channels, one bit
// per MIDI channel (bit 0 is channel 1), and the hand of the channels that two hands share.
// Commands carry it by value; the prepared song's part map answers, note by note, whether a note
// belongs to the choice.
struct PracticeChoice {
    uint16_t channels = 0;
    Hand hand = Hand::Both;

    bool HasChannel(int channel) const {
        return channel >= 0 && channel < 16 && (channels >> channel & 1u) != 0;
    }
    void SetChannel(int channel, bool on) {
        if (channel < 0 || channel > 15) {
            return;
        }
        const auto bit = static_cast<uint16_t>(1u << channel);
        channels =
            on ? static_cast<uint16_t>(channels | bit) : static_cast<uint16_t>(channels & ~bit);
    }
    friend bool operator==(const PracticeChoice&, const PracticeChoice&) = default;
};
