#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/performance_event.h"
#include "engine/practice_choice.h"

class Timeline;
namespace smf {
class Song;
}

// The part a note belongs to: its channel, and within a channel played by two hands, its hand.
// A channel of one hand has its notes Hand::Both: the hand the learner chooses does not divide
// it.
struct Part {
    uint8_t channel = 0;
    Hand hand = Hand::Both;
};

// The one question every practice decision asks: is a note of this part practised under the
// learner's choice?
inline bool IsPractised(Part part, PracticeChoice choice) {
    return choice.HasChannel(part.channel) &&
           (choice.hand == Hand::Both || part.hand == Hand::Both || part.hand == choice.hand);
}

// Whether a note of this part goes unheard under the choice in a mode that silences the
// practised part (silencePractised) or the rest: only a channel the choice divides is silenced
// note by note; a whole channel goes silent by its volume.
inline bool IsHandSilenced(Part part, PracticeChoice choice, bool silencePractised) {
    if (part.hand == Hand::Both || choice.hand == Hand::Both || !choice.HasChannel(part.channel)) {
        return false;
    }
    return (part.hand == choice.hand) == silencePractised;
}

// Every note of a timeline with its part, decided once when the song is prepared, so that
// nothing on the clock's path has to work it out. A channel's notes are divided into hands:
// by track when several tracks play it (a track named for a hand goes to it; otherwise the
// higher track is the right hand, or with more than two, a track's median key against the
// split key), by key against the split key when one track plays it; a channel whose notes all
// fall to one hand stays whole.
class PartMap {
  public:
    static constexpr int kDefaultSplitKey = 60;  // middle C and up: the right hand

    // How a channel's hands were told apart.
    enum class Source : uint8_t { Whole, TrackName, TrackPitch, Split };
    struct ChannelHands {
        Source source = Source::Whole;
        uint32_t right = 0;  // note-ons of each hand
        uint32_t left = 0;
    };

    // splitKey 0-127; outside it the default is taken. hands false: every channel whole.
    static PartMap Build(const smf::Song& song, const Timeline& timeline,
                         int splitKey = kDefaultSplitKey, bool hands = true);

    // The part of the event at index of the timeline the map was built from.
    Part PartOf(const PerformanceEvent& e, uint32_t index) const {
        return {e.channel, m_hands.empty() ? Hand::Both : static_cast<Hand>(m_hands[index])};
    }
    bool IsPractised(const PerformanceEvent& e, uint32_t index, PracticeChoice choice) const {
        return ::IsPractised(PartOf(e, index), choice);
    }
    // The note-on a note-off of a divided channel ends (its index), kNoNote for any other event.
    static constexpr uint32_t kNoNote = 0xFFFFFFFFu;
    uint32_t NoteOnOf(uint32_t index) const {
        return index < m_noteOnOf.size() ? m_noteOnOf[index] : kNoNote;
    }
    // The hand of a note-on of a channel from a track (its index in the song), as the note-ons
    // of the timeline were given theirs.
    Hand HandOfNote(int channel, uint32_t track, int key) const;
    const ChannelHands& Channel(int channel) const { return m_channels[channel & 0x0F]; }
    // Channels with two hands, one bit each.
    uint16_t DividedChannels() const { return m_divided; }
    int SplitKey() const { return m_splitKey; }

    // The hand a track name gives (Hand::Both: none), in any case and encoding, also inside a
    // longer name.
    static Hand HandOfName(const std::string& bytes);

  private:
    // Per timeline event; empty when no channel is divided.
    std::vector<uint8_t> m_hands;
    std::vector<uint32_t> m_noteOnOf;
    std::array<ChannelHands, 16> m_channels{};
    // Per channel, the hand of each track of the song that plays it (Both: by the split key).
    std::array<std::vector<uint8_t>, 16> m_trackHands;
    uint16_t m_divided = 0;
    int m_splitKey = kDefaultSplitKey;
};
