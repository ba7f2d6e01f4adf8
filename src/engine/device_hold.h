#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/player_input.h"

// The keys and the sustain pedal the input device holds down. A device that disappears sends no
// release, so whatever it held would stay down (in the take, the scoring and the screen keyboard)
// until the song ends; what it held is let go where it went instead.
class DeviceHold {
  public:
    // Each action of the device, on its input thread.
    void Note(const PlayerAction& action);
    // The actions that let go of everything held, stamped clockMs, and forgets it. Only once the
    // device's input callback can no longer run.
    std::vector<PlayerAction> LetGo(uint32_t clockMs);

  private:
    std::array<std::atomic<bool>, 128> m_keys{};
    std::atomic<uint8_t> m_pedal{0};
};
