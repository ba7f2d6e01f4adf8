#include "engine/song_clock.h"

#include <algorithm>

#include "engine/publish_notice.h"

namespace {
constexpr uint32_t kPlaying = 1u << 16;
constexpr uint32_t kWaiting = 1u << 17;
constexpr uint32_t kCountInBits = 0x7FFFu;
constexpr uint32_t kCountInAccent = 1u << 31;

uint32_t PackCountIn(const SongClock::Reading& r) {
    return (r.countInBeat & kCountInBits) | (r.countInBeats & kCountInBits) << 15 |
           (r.countInAccent ? kCountInAccent : 0);
}
}  // namespace

uint32_t SongClock::Reading::At(uint32_t nowMs) const {
    if (!playing || waiting || songMs >= holdMs) {
        return songMs;
    }
    // A reader whose clock value lags the tick's (read just before it) stays at the tick.
    const int32_t since = static_cast<int32_t>(nowMs - clockMs);
    if (since <= 0) {
        return songMs;
    }
    const uint64_t ahead = uint64_t(since) * speedPercent / 100;
    return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{songMs} + ahead, holdMs));
}

void SongClock::Publish(const Reading& reading) {
    const uint32_t flags =
        reading.speedPercent | (reading.playing ? kPlaying : 0) | (reading.waiting ? kWaiting : 0);
    const uint32_t countIn = PackCountIn(reading);
    // Writers take turns, so the values as they stand are this writer's own last ones. The
    // tick's clock value matters to a reader only while the song moves.
    const bool moving = reading.playing && !reading.waiting;
    const bool changed = m_songMs.load(std::memory_order_relaxed) != reading.songMs ||
                         (moving && m_clockMs.load(std::memory_order_relaxed) != reading.clockMs) ||
                         m_holdMs.load(std::memory_order_relaxed) != reading.holdMs ||
                         m_flags.load(std::memory_order_relaxed) != flags ||
                         m_countIn.load(std::memory_order_relaxed) != countIn;
    const uint32_t sequence = m_sequence.load(std::memory_order_relaxed);
    m_sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    m_songMs.store(reading.songMs, std::memory_order_relaxed);
    m_clockMs.store(reading.clockMs, std::memory_order_relaxed);
    m_holdMs.store(reading.holdMs, std::memory_order_relaxed);
    m_flags.store(flags, std::memory_order_relaxed);
    m_countIn.store(countIn, std::memory_order_relaxed);
    m_countInClickMs.store(reading.countInClickMs, std::memory_order_relaxed);
    m_sequence.store(sequence + 2, std::memory_order_release);
    if (changed && m_notice) {
        m_notice->Published();
    }
}

SongClock::Reading SongClock::Read() const {
    Reading r;
    for (;;) {
        const uint32_t before = m_sequence.load(std::memory_order_acquire);
        r.songMs = m_songMs.load(std::memory_order_relaxed);
        r.clockMs = m_clockMs.load(std::memory_order_relaxed);
        r.holdMs = m_holdMs.load(std::memory_order_relaxed);
        const uint32_t flags = m_flags.load(std::memory_order_relaxed);
        const uint32_t countIn = m_countIn.load(std::memory_order_relaxed);
        r.countInClickMs = m_countInClickMs.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        const uint32_t after = m_sequence.load(std::memory_order_relaxed);
        if (before == after && (before & 1u) == 0) {
            r.speedPercent = static_cast<uint16_t>(flags & 0xFFFFu);
            r.playing = (flags & kPlaying) != 0;
            r.waiting = (flags & kWaiting) != 0;
            r.countInBeat = static_cast<uint16_t>(countIn & kCountInBits);
            r.countInBeats = static_cast<uint16_t>(countIn >> 15 & kCountInBits);
            r.countInAccent = (countIn & kCountInAccent) != 0;
            return r;
        }
    }
}
