#include "engine/device_hold.h"

namespace {
constexpr uint8_t kPedalHeld = 64;
}  // namespace

void DeviceHold::Note(const PlayerAction& action) {
    switch (action.kind) {
        case PlayerAction::KeyDown:
            m_keys[action.key & 0x7F].store(true, std::memory_order_release);
            break;
        case PlayerAction::KeyUp:
            m_keys[action.key & 0x7F].store(false, std::memory_order_release);
            break;
        case PlayerAction::Pedal:
            m_pedal.store(action.value, std::memory_order_release);
            break;
    }
}

std::vector<PlayerAction> DeviceHold::LetGo(uint32_t clockMs) {
    std::vector<PlayerAction> release;
    for (size_t key = 0; key < m_keys.size(); ++key) {
        if (m_keys[key].exchange(false, std::memory_order_acq_rel)) {
            PlayerAction up;
            up.kind = PlayerAction::KeyUp;
            up.key = static_cast<uint8_t>(key);
            up.clockMs = clockMs;
            release.push_back(up);
        }
    }
    if (m_pedal.exchange(0, std::memory_order_acq_rel) >= kPedalHeld) {
        PlayerAction pedal;
        pedal.kind = PlayerAction::Pedal;
        pedal.clockMs = clockMs;
        release.push_back(pedal);
    }
    return release;
}
