// The clock's plan over its time sources: a source the clock has never heard of wakes it at its
// own due time, and the flash phase's turns agree with the phase itself.

#include <gtest/gtest.h>

#include <vector>

#include "engine/clock_schedule.h"
#include "engine/key_state.h"

namespace {

// A source due a fixed number of milliseconds after any tick; remembers the tick it was asked.
class FixedSource : public TimeSource {
  public:
    FixedSource(uint32_t dueMs, bool lightsOnly) : m_dueMs(dueMs), m_lightsOnly(lightsOnly) {}
    uint32_t NextDueMs(const TickMoment& tick) const override {
        m_asked = tick;
        ++m_askedCount;
        return m_dueMs;
    }
    bool LightsOnly() const override { return m_lightsOnly; }
    TickMoment Asked() const { return m_asked; }
    int AskedCount() const { return m_askedCount; }

  private:
    uint32_t m_dueMs;
    bool m_lightsOnly;
    mutable TickMoment m_asked;
    mutable int m_askedCount = 0;
};

clock_schedule::NextTick Plan(std::vector<const TimeSource*> sources, PlayState state,
                              uint32_t now = 500) {
    return clock_schedule::PlanNextTick(sources, state, now);
}

TEST(ClockPlan, SleepsUntilTheEarliestSourceWhateverItIs) {
    const FixedSource song(40, false);
    const FixedSource lights(7, true);
    const FixedSource click(3, false);
    const FixedSource never(TimeSource::kNever, false);

    // The earliest wins; a lights-only tick only when no song event is due with it.
    auto next = Plan({&song, &lights, nullptr, &never}, Playing, 1234);
    EXPECT_EQ(next.ms, 7u);
    EXPECT_TRUE(next.lightsOnly);
    EXPECT_EQ(song.Asked().nowMs, 1234u);
    EXPECT_TRUE(song.Asked().playing);
    next = Plan({&song, &lights, &click}, Playing);
    EXPECT_EQ(next.ms, 3u);
    EXPECT_FALSE(next.lightsOnly);
    const FixedSource sameTick(7, false);
    EXPECT_FALSE(Plan({&lights, &sameTick}, Playing).lightsOnly);

    // Stopped, the sources are told so; nothing due sleeps the longest the plan allows, and a
    // source due at once still waits for the next millisecond.
    next = Plan({&never}, Stopped);
    EXPECT_FALSE(never.Asked().playing);
    EXPECT_EQ(next.ms, clock_schedule::kMaxSleepMs);
    EXPECT_FALSE(next.lightsOnly);
    EXPECT_EQ(Plan({}, Playing).ms, clock_schedule::kMaxSleepMs);
    const FixedSource atOnce(0, false);
    EXPECT_EQ(Plan({&atOnce}, Playing).ms, 1u);

    // About to start, the next millisecond's tick starts play: no source is asked.
    const int asked = song.AskedCount();
    next = Plan({&song, &lights}, Starting);
    EXPECT_EQ(next.ms, 1u);
    EXPECT_FALSE(next.lightsOnly);
    EXPECT_EQ(song.AskedCount(), asked);
}

TEST(ClockPlan, FlashTurnsAreWhereThePhaseTurns) {
    for (uint32_t now = 0xFFFFFF80u; now != 0x80u; ++now) {
        const uint32_t turn = MsToFlashTurn(now);
        ASSERT_GE(turn, 1u);
        for (uint32_t ms = 1; ms < turn; ++ms) {
            ASSERT_EQ(FlashPhaseOn(now + ms), FlashPhaseOn(now)) << now << " + " << ms;
        }
        ASSERT_NE(FlashPhaseOn(now + turn), FlashPhaseOn(now)) << now;
    }
}

}  // namespace
