#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// One thing the learner did at the keyboard: a key pressed or released, or the sustain pedal
// moved, from the input device or the screen keyboard.
struct PlayerAction {
    enum Kind : uint8_t { KeyDown, KeyUp, Pedal };
    enum Origin : uint8_t { Device, Screen };
    Kind kind = KeyDown;
    Origin origin = Device;
    uint8_t key = 0;       // KeyDown, KeyUp
    uint8_t value = 0;     // KeyDown: velocity; Pedal: its position, 0-127 (64 and up hold)
    bool scored = true;    // false: the lesson hears it, the run's figures leave it out
    uint32_t clockMs = 0;  // when it was done, on the program's clock (NowMs)
    uint32_t songMs = 0;   // where the song stood then, ms at normal speed
};

// Everything the learner plays while a song plays, in one queue that the scoring and the takes
// read. Pushed from the input callback and the user-interface thread under a lock held for one
// copy (never the play lock), so a key reaches the lesson without waiting on anyone; the
// collector swaps the whole batch for a fresh reserved vector.
class PlayerInput {
  public:
    PlayerInput();
    void Push(const PlayerAction& action);
    // Everything pushed since the last call, in the order pushed.
    std::vector<PlayerAction> Take();
    bool Empty();
    // Actions left out because the queue was full.
    uint64_t Dropped();

    // Minutes of the fastest playing, key downs, ups and pedal together; the collector comes
    // far more often.
    static constexpr size_t kReserve = 8192;

  private:
    std::mutex m_lock;
    std::vector<PlayerAction> m_actions;
    uint64_t m_dropped = 0;
};
