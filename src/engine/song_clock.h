#pragma once

#include <atomic>
#include <cstdint>

class PublishNotice;

// The song time as the clock thread last had it, published for the screen to follow between
// ticks: the clock may sleep hundreds of milliseconds before its next event, so a reader goes on
// from the last tick at the speed it then played, up to where the song must stop (a chord the
// lesson will wait for, a loop's end). A small sequence lock: writers take turns under the play
// lock, readers never wait on them and retry the rare read that overlapped a write.
class SongClock {
  public:
    // Each change is told to notice, when there is one.
    explicit SongClock(PublishNotice* notice = nullptr) : m_notice(notice) {}

    struct Reading {
        uint32_t songMs = 0;            // song time at the tick
        uint32_t clockMs = 0;           // clock value of the tick
        uint32_t holdMs = 0xFFFFFFFFu;  // song time does not pass this before the next tick
        uint16_t speedPercent = 100;
        bool playing = false;
        bool waiting = false;  // the lesson waits for the player: the song stands still
        // While a count-in stands the song still: the beat sounding (from 1; 0 for none) of
        // how many, whether it begins a bar, and the clock value at which it sounded.
        uint16_t countInBeat = 0;
        uint16_t countInBeats = 0;
        bool countInAccent = false;
        uint32_t countInClickMs = 0;
        bool operator==(const Reading&) const = default;

        // The song time at clock value nowMs.
        uint32_t At(uint32_t nowMs) const;
    };

    // Under the play lock.
    void Publish(const Reading& reading);
    // Any thread.
    Reading Read() const;

  private:
    std::atomic<uint32_t> m_sequence{0};
    std::atomic<uint32_t> m_songMs{0};
    std::atomic<uint32_t> m_clockMs{0};
    std::atomic<uint32_t> m_holdMs{0xFFFFFFFFu};
    std::atomic<uint32_t> m_flags{100};  // speed in the low 16 bits, playing, waiting above
    std::atomic<uint32_t> m_countIn{0};  // beat in the low 15 bits, beats above, accent on top
    std::atomic<uint32_t> m_countInClickMs{0};
    PublishNotice* m_notice;
};
