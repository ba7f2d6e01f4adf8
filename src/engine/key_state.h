#pragma once

#include <array>
#include <atomic>
#include <cstdint>

class Performance;
class PublishNotice;

// 128 keys as two 64-bit words, bit k of word k / 64.
using KeyBits = std::array<uint64_t, 2>;

inline bool TestKey(const KeyBits& keys, int key) {
    return (keys[static_cast<unsigned>(key) >> 6 & 1] >> (key & 63)) & 1u;
}
inline void SetKey(KeyBits& keys, int key) {
    keys[static_cast<unsigned>(key) >> 6 & 1] |= uint64_t{1} << (key & 63);
}

// What an on-screen keyboard shows, shared by three threads without a lock the screen could
// wait on: the input thread marks the keys the player holds, the clock thread publishes the key
// lights and the lesson's awaited and wrong keys at the end of each tick, and the user interface
// reads both whenever it likes. Each word is read whole, so a reader may at worst mix words of
// two consecutive ticks, which the next read puts right.
class KeyState {
  public:
    struct Snapshot {
        KeyBits held{};     // keys down on the input device (or on the screen keyboard)
        KeyBits lit{};      // lit steadily
        KeyBits preLit{};   // flashing before their chord is due
        KeyBits awaited{};  // keys of the chord the lesson waits for, crossed off or not
        KeyBits wrong{};    // held in the lesson, but not part of the awaited chord
        bool operator==(const Snapshot&) const = default;
    };

    // Each change is told to notice, when there is one.
    // heldNotice, where given, is told only of the keys the learner holds or lets go.
    explicit KeyState(PublishNotice* notice = nullptr, PublishNotice* heldNotice = nullptr)
        : m_notice(notice), m_heldNotice(heldNotice) {}

    // Any thread (the input callback); never blocks.
    void SetHeld(int key, bool down);
    KeyBits Held() const;

    // Clock thread, with the play lock held. A null performance (or a stopped one) shows nothing.
    void Publish(const Performance* performance, bool playing);

    // Any thread.
    Snapshot Read() const;

  private:
    // True when a word changed.
    static bool Store(std::array<std::atomic<uint64_t>, 2>& to, const KeyBits& from);
    void Told();
    static KeyBits Load(const std::array<std::atomic<uint64_t>, 2>& from);

    std::array<std::atomic<uint64_t>, 2> m_held{};
    std::array<std::atomic<uint64_t>, 2> m_lit{};
    std::array<std::atomic<uint64_t>, 2> m_preLit{};
    std::array<std::atomic<uint64_t>, 2> m_awaited{};
    std::array<std::atomic<uint64_t>, 2> m_wrong{};
    KeyBits m_wrongLatch{};  // clock thread only
    PublishNotice* m_notice;
    PublishNotice* m_heldNotice;
};

// A pre-lit key flashes: lit for the first kFlashLitMs of every kFlashPeriodMs of clock.
inline constexpr uint32_t kFlashPeriodMs = 32;
inline constexpr uint32_t kFlashLitMs = 10;

// The flash phase of a pre-lit key at a clock value.
inline bool FlashPhaseOn(uint32_t nowMs) {
    return (nowMs & (kFlashPeriodMs - 1)) < kFlashLitMs;
}

// Clock milliseconds from nowMs to the next turn of the flash phase.
inline uint32_t MsToFlashTurn(uint32_t nowMs) {
    const uint32_t phase = nowMs & (kFlashPeriodMs - 1);
    return phase < kFlashLitMs ? kFlashLitMs - phase : kFlashPeriodMs - phase;
}
