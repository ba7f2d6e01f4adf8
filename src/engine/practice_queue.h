#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/publish_notice.h"

// What happened while playing, as the clock thread and the input callback saw it. Times are the
// program's clock (NowMs); song times are ms at normal speed.
struct PracticeEvent {
    enum Kind : uint8_t {
        RunStart,      // play began (or went on in a new mode): mode, speed, song time
        RunEnd,        // play stopped, or the song ended
        LoopPass,      // a pass of the loop ended at songMs and play went back to A
        KeyDown,       // the player pressed key
        ChordDue,      // the lesson began to wait for keys[0..count)
        ChordDone,     // the player completed the awaited chord
        PracticeNote,  // a silenced practice note was due at clockMs
    };
    Kind kind = KeyDown;
    uint8_t key = 0;
    uint8_t count = 0;
    uint8_t mode = 0;
    uint8_t hand = 0;       // RunStart: the hand practised (Hand)
    uint8_t splitKey = 0;   // RunStart: where the song's single-track channels divide
    uint16_t channels = 0;  // RunStart: the channels practised, a bit each
    uint32_t clockMs = 0;
    uint32_t songMs = 0;
    uint32_t value = 0;  // RunStart: speed percent; LoopPass: song time play went back to
    uint32_t song = 0;   // RunStart: which prepared song (see PracticeLog::BeginSong)
    std::array<uint8_t, 10> keys{};
};

// Hands what happened over from the clock thread and the input callback to whoever scores it.
// Pushing appends to a vector reserved ahead under a lock held for one copy, so neither thread
// waits on scoring or storing; the consumer swaps the whole batch for a fresh reserved vector.
class PracticeQueue {
  public:
    PracticeQueue();
    void Push(const PracticeEvent& event);
    // Everything pushed since the last call, oldest first.
    std::vector<PracticeEvent> Take();
    bool Empty();
    // Events left out because the queue was full.
    uint64_t Dropped();
    // Told whenever a run ends (also a pass of a loop), so that whoever scores the runs need
    // not ask again and again to learn of it soon.
    PublishNotice& RunEnded() { return m_runEnded; }

    // Room for what a few seconds of the densest song hand over; the consumer collects far
    // more often.
    static constexpr size_t kReserve = 8192;

  private:
    std::mutex m_lock;
    std::vector<PracticeEvent> m_events;
    uint64_t m_dropped = 0;
    PublishNotice m_runEnded;
};
