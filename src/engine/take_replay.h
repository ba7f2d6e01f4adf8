#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/take.h"
#include "engine/time_source.h"

// A take played back in a performance, in place of the parts it was played for: its keys and
// pedal go out on their channel when the song reaches them. Played at the learner's own pace,
// the song stands where the learner kept it waiting, as long as it waited, before what was
// played after the wait. Guarded by the play lock, like the performance that owns it.
class TakeReplay {
  public:
    static constexpr uint32_t kNoStop = 0xFFFFFFFFu;

    // A short message to send: status with its channel, and two data bytes.
    struct Message {
        uint8_t status = 0;
        uint8_t data1 = 0;
        uint8_t data2 = 0;
    };

    TakeReplay(std::shared_ptr<const Take> take, uint8_t channel);

    uint8_t Channel() const { return m_channel; }
    // After a start or a jump to songMs: goes on from the first thing played there, with the
    // waits before it spent. Send Release() first: what sounds at the old place stops.
    void MoveTo(uint32_t songMs);
    // The song time the song must stand at before going on, kNoStop for none ahead.
    uint32_t StopAt() const;
    // True while the song stands at songMs for the learner's wait there.
    bool Holding(uint32_t songMs) const { return StopAt() <= songMs; }
    // Spends clock milliseconds of a hold at the speed they played at.
    void Spend(uint32_t clockMs, int speedPercent);
    // Clock milliseconds until the wait now held is over, at the speed as it is.
    uint32_t ClockMsLeft(int speedPercent) const;
    // The song time of the next thing to play, kNoStop for none.
    uint32_t NextSongMs() const;
    // What has come due by song time songMs, in order.
    template <typename Send>
    void PlayUpTo(uint32_t songMs, Send&& send);
    // Note-offs of the keys sounding and the pedal let go, so that nothing hangs on.
    template <typename Send>
    void Release(Send&& send);

  private:
    Message Play(const TakeEvent& e);
    uint64_t Target() const { return uint64_t{(*m_take)[m_next].waitedMs} * 100; }

    std::shared_ptr<const Take> m_take;
    uint8_t m_channel;
    size_t m_next = 0;
    uint64_t m_spent = 0;  // ms of waits spent, times 100 (at normal speed)
    std::array<bool, 128> m_held{};
    bool m_pedal = false;
};

template <typename Send>
void TakeReplay::PlayUpTo(uint32_t songMs, Send&& send) {
    const Take& take = *m_take;
    while (m_next < take.size() && take[m_next].songMs <= songMs && Target() <= m_spent) {
        send(Play(take[m_next++]));
    }
}

template <typename Send>
void TakeReplay::Release(Send&& send) {
    for (size_t key = 0; key < m_held.size(); ++key) {
        if (m_held[key]) {
            m_held[key] = false;
            send(Message{static_cast<uint8_t>(0x80 | m_channel), static_cast<uint8_t>(key), 0});
        }
    }
    if (m_pedal) {
        m_pedal = false;
        send(Message{static_cast<uint8_t>(0xB0 | m_channel), 64, 0});
    }
}
