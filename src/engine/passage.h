#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "engine/performance_seek.h"

class Performance;

// A passage to repeat, in song time (ms at normal speed): from a up to, not including, b.
struct LoopSpan {
    uint32_t a = 0;
    uint32_t b = 0;
    bool operator==(const LoopSpan&) const = default;
};

// Where play starts and what part of the song repeats: a start anywhere, an A-B loop for a
// number of passes, and jumps while playing. Every call but SongTime() comes under the play
// lock; SongTime() is what the clock thread published at the end of its last tick, for the
// window to read without waiting on the clock.
class Passage {
  public:
    // The performance now played (null: none).
    void Attach(Performance* performance);

    // Where the next start begins.
    void SetStart(uint32_t songMs) { m_start.store(songMs, std::memory_order_relaxed); }
    uint32_t Start() const { return m_start.load(std::memory_order_relaxed); }
    // A loop of b <= a is none. passes: how many times the passage plays (0: until stopped).
    void SetLoop(std::optional<LoopSpan> loop, int passes = 0);
    std::optional<LoopSpan> Loop() const { return m_loop; }
    int PassesPlayed() const { return m_passesPlayed; }

    // After a start rewound the performance: goes to the start unless it is the beginning.
    void OnStart();
    // A jump while playing, made at clock time elapsedMs of the performance (the elapsed time
    // its advances count from): the song goes on from the jump, not from the last tick.
    void JumpTo(uint32_t songMs, uint32_t elapsedMs);
    // True once after a jump between two ticks: the clock's quiet milliseconds before it belong
    // to the old place and are not made up for.
    bool TakeJump() { return std::exchange(m_jumped, false); }
    // After each advance while playing: back to A at the loop's end. True when play should stop:
    // the song has ended outside a loop, or the last pass of the loop has.
    bool AfterAdvance();

    void Publish(uint32_t songTime) { m_published.store(songTime, std::memory_order_release); }
    uint32_t SongTime() const { return m_published.load(std::memory_order_acquire); }

  private:
    void ApplyLimit();

    Performance* m_performance = nullptr;
    std::unique_ptr<PerformanceSeek> m_seek;
    std::atomic<uint32_t> m_start{0};
    std::optional<LoopSpan> m_loop;
    int m_passes = 0;
    int m_passesPlayed = 0;
    bool m_jumped = false;
    std::atomic<uint32_t> m_published{0};
};
