#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/practice_choice.h"

namespace smf {
class Song;
}

// One note of a song as the falling-notes view draws it: from its note-on to its note-off, in
// song time (ms at normal speed).
struct NoteSpan {
    uint32_t start = 0;
    uint32_t end = 0;
    uint8_t key = 0;
    uint8_t channel = 0;
    Hand hand = Hand::Both;
};

class PartMap;

// Every note of a song, made once when the song is chosen and shared read-only with the screen:
// sorted by start, so that a frame finds the few notes in view by two binary searches. The rare
// long notes (a drone, a note never ended) are kept apart, so that one of them does not widen
// every search to the start of the song.
class NoteSpans {
  public:
    // parts: the hands of the notes (none: every note whole).
    static std::shared_ptr<const NoteSpans> FromSong(const smf::Song& song,
                                                     const PartMap* parts = nullptr);
    // Notes as (time, status, channel, key, velocity) events in time order; exposed for tests.
    struct NoteEvent {
        uint32_t time;
        bool on;
        uint8_t channel;
        uint8_t key;
        Hand hand = Hand::Both;  // of a note-on; a note-off ends the oldest note of its key
    };
    static std::shared_ptr<const NoteSpans> FromEvents(std::vector<NoteEvent> events);

    static constexpr uint32_t kLongMs = 8000;

    // Notes shorter than kLongMs, by start.
    const std::vector<NoteSpan>& Short() const { return m_spans; }
    // The others, by start.
    const std::vector<NoteSpan>& Long() const { return m_long; }
    size_t Count() const { return m_spans.size() + m_long.size(); }
    // A range of Short() holding every short note that sounds at some time in [fromMs, toMs]
    // (and a few that end just before fromMs).
    std::pair<size_t, size_t> Within(uint32_t fromMs, uint32_t toMs) const;

  private:
    std::vector<NoteSpan> m_spans;
    std::vector<NoteSpan> m_long;
};
