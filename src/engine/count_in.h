#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/time_source.h"

namespace smf {
class MeterMap;
}

// Clicks counted before the song starts, while it stands still: whole bars in the meter of the
// place and at the tempo there (a tempo change later in the bar does not hurry it), at the speed
// played.
struct CountInPlan {
    struct Click {
        uint32_t atMs = 0;  // clock ms from the count-in's start
        bool accent = false;
    };
    std::vector<Click> clicks;
    uint32_t lengthMs = 0;  // from the first click to the song's start
};

inline constexpr int kMaxCountInBars = 2;

// bars 0 (none) to kMaxCountInBars; speedPercent as the player takes it.
CountInPlan PlanCountIn(const smf::MeterMap& meter, uint32_t placeMs, int bars, int speedPercent);

// A count-in under way, driven by the clock's ticks; as a time source, due at its next click and
// at its end. Guarded by the play lock.
class CountIn : public TimeSource {
  public:
    struct Message {
        uint8_t status = 0;
        uint8_t key = 0;
        uint8_t velocity = 0;
    };

    void Begin(CountInPlan plan, uint32_t nowMs);
    // Forgets a count-in (a stop, a new start); what sounds is left to the stop's silencing.
    void Reset() {
        m_active = false;
        m_done = false;
        m_sounding = -1;
    }
    bool Active() const { return m_active; }
    // Begun since the last Reset and over.
    bool Done() const { return m_done; }
    // The clicks due by nowMs; once the count-in is over, the last one's note-off, and Active()
    // turns false.
    std::vector<Message> Tick(uint32_t nowMs);
    uint32_t NextDueMs(const TickMoment& tick) const override;

    // What the screen shows of it: the clicks sounded so far of all of them, and the clock
    // value at which the last one sounded and whether it was a bar's first.
    size_t ClicksSounded() const { return m_next; }
    size_t ClickCount() const { return m_plan.clicks.size(); }
    uint32_t LastClickMs() const {
        return m_next > 0 ? m_startMs + m_plan.clicks[m_next - 1].atMs : 0;
    }
    bool LastClickAccented() const { return m_next > 0 && m_plan.clicks[m_next - 1].accent; }

  private:
    CountInPlan m_plan;
    uint32_t m_startMs = 0;
    size_t m_next = 0;
    int m_sounding = -1;
    bool m_active = false;
    bool m_done = false;
};
