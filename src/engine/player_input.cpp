#include "engine/player_input.h"

PlayerInput::PlayerInput() {
    m_actions.reserve(kReserve);
}

void PlayerInput::Push(const PlayerAction& action) {
    std::lock_guard<std::mutex> lock(m_lock);
    // Nobody collects (pelorvane-play without --record): dropping what comes is better than
    // allocating on the input thread.
    if (m_actions.size() >= kReserve) {
        ++m_dropped;
        return;
    }
    m_actions.push_back(action);
}

std::vector<PlayerAction> PlayerInput::Take() {
    std::vector<PlayerAction> fresh;
    fresh.reserve(kReserve);
    std::lock_guard<std::mutex> lock(m_lock);
    fresh.swap(m_actions);
    return fresh;
}

bool PlayerInput::Empty() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_actions.empty();
}

uint64_t PlayerInput::Dropped() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dropped;
}
