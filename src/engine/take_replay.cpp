#include "engine/take_replay.h"

#include <algorithm>

TakeReplay::TakeReplay(std::shared_ptr<const Take> take, uint8_t channel)
    : m_take(take ? std::move(take) : std::make_shared<const Take>()),
      m_channel(static_cast<uint8_t>(channel & 0x0F)) {}

void TakeReplay::MoveTo(uint32_t songMs) {
    const Take& take = *m_take;
    const auto at = std::lower_bound(take.begin(), take.end(), songMs,
                                     [](const TakeEvent& e, uint32_t ms) { return e.songMs < ms; });
    m_next = static_cast<size_t>(at - take.begin());
    // The waits that came before the place are over; one at the place is still to come.
    m_spent = m_next > 0 ? uint64_t{take[m_next - 1].waitedMs} * 100 : 0;
}

uint32_t TakeReplay::StopAt() const {
    if (m_next >= m_take->size() || Target() <= m_spent) {
        return kNoStop;
    }
    return (*m_take)[m_next].songMs;
}

void TakeReplay::Spend(uint32_t clockMs, int speedPercent) {
    if (m_next >= m_take->size()) {
        return;
    }
    // A wait ends when its last key is played: what is left of the step belongs to no wait.
    m_spent =
        std::min(m_spent + uint64_t{clockMs} * static_cast<uint64_t>(std::max(speedPercent, 1)),
                 std::max(m_spent, Target()));
}

uint32_t TakeReplay::ClockMsLeft(int speedPercent) const {
    if (m_next >= m_take->size() || Target() <= m_spent) {
        return 0;
    }
    const uint64_t speed = static_cast<uint64_t>(std::max(speedPercent, 1));
    return static_cast<uint32_t>(
        std::min<uint64_t>((Target() - m_spent + speed - 1) / speed, TimeSource::kNever - 1));
}

uint32_t TakeReplay::NextSongMs() const {
    return m_next < m_take->size() ? (*m_take)[m_next].songMs : kNoStop;
}

TakeReplay::Message TakeReplay::Play(const TakeEvent& e) {
    switch (e.kind) {
        case TakeEvent::NoteOn:
            m_held[e.key & 0x7F] = true;
            return {static_cast<uint8_t>(0x90 | m_channel), e.key, e.value};
        case TakeEvent::NoteOff:
            m_held[e.key & 0x7F] = false;
            return {static_cast<uint8_t>(0x80 | m_channel), e.key, 0};
        case TakeEvent::Pedal:
        default:
            m_pedal = e.value >= 64;
            return {static_cast<uint8_t>(0xB0 | m_channel), 64, e.value};
    }
}
