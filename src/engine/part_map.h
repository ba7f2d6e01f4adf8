#pragma once

#include <cstdint>
#include <vector>

#include "engine/performance_event.h"
#include "engine/practice_choice.h"

class Timeline;
namespace smf {
class Song;
}

// The part a note belongs to: its channel, and within a channel played by two hands, its hand.
// A channel of one hand has its notes whole: the hand the learner chooses does not divide it.
enum class Hand : uint8_t { Whole = 0, Right = 1, Left = 2 };

struct Part {
    uint8_t channel = 0;
    Hand hand = Hand::Whole;
};

// The one question every practice decision asks: is a note of this part practised under the
// learner's choice?
inline bool IsPractised(Part part, PracticeChoice choice) {
    return choice.HasChannel(part.channel);
}

// Every note of a timeline with its part, decided once when the song is prepared, so that
// nothing on the clock's path has to work it out.
class PartMap {
  public:
    static PartMap Build(const smf::Song& song, const Timeline& timeline);

    // The part of the event at index of the timeline the map was built from.
    Part PartOf(const PerformanceEvent& e, uint32_t /*index*/) const {
        return {e.channel, Hand::Whole};
    }
    bool IsPractised(const PerformanceEvent& e, uint32_t index, PracticeChoice choice) const {
        return ::IsPractised(PartOf(e, index), choice);
    }
};
