#include <algorithm>
#include <limits>

#include "smf/tempo_map.h"

namespace smf {

namespace {
constexpr uint32_t kDefaultMicrosPerQuarter = 500000;  // 120 beats per minute
constexpr uint32_t kMaxMs = std::numeric_limits<uint32_t>::max();

uint32_t ClampMs(uint64_t ms) {
    return ms > kMaxMs ? kMaxMs : static_cast<uint32_t>(ms);
}
}  // namespace

TempoMap::TempoMap(const TempoMap& other)
    : m_division(other.m_division),
      m_tempos(other.m_tempos),
      m_tempoStartUnits(other.m_tempoStartUnits),
      m_tempoHint(other.m_tempoHint.load(std::memory_order_relaxed)) {}

TempoMap& TempoMap::operator=(const TempoMap& other) {
    m_division = other.m_division;
    m_tempos = other.m_tempos;
    m_tempoStartUnits = other.m_tempoStartUnits;
    m_tempoHint.store(other.m_tempoHint.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
}

void TempoMap::Build(uint16_t division, std::vector<TempoChange> changes) {
    m_division = division;
    m_tempoHint.store(0, std::memory_order_relaxed);
    std::stable_sort(changes.begin(), changes.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    m_tempos.clear();
    m_tempos.reserve(changes.size() + 1);
    m_tempos.push_back({0, kDefaultMicrosPerQuarter});
    for (const TempoChange& c : changes) {
        if (c.tick == m_tempos.back().tick) {
            m_tempos.back().microsPerQuarter = c.microsPerQuarter;
        } else {
            m_tempos.push_back(c);
        }
    }
    m_tempoStartUnits.assign(m_tempos.size(), 0);
    for (std::size_t i = 1; i < m_tempos.size(); ++i) {
        const uint64_t ticks = m_tempos[i].tick - m_tempos[i - 1].tick;
        m_tempoStartUnits[i] = m_tempoStartUnits[i - 1] + ticks * m_tempos[i - 1].microsPerQuarter;
    }
}

uint32_t TempoMap::TickToMs(uint32_t tick) const {
    if (IsSmpte()) {
        // High byte: frames per second as a negative number; low byte: ticks per frame.
        // 29 stands for 29.97 drop-frame time code.
        const uint64_t fps = static_cast<uint8_t>(-static_cast<int8_t>(m_division >> 8));
        const uint64_t ticksPerFrame = m_division & 0xFF;
        if (fps == 29) {
            const uint64_t den = 2997 * ticksPerFrame;
            return ClampMs((uint64_t{tick} * 100000 + den / 2) / den);
        }
        const uint64_t den = fps * ticksPerFrame;
        return ClampMs((uint64_t{tick} * 1000 + den / 2) / den);
    }
    const uint64_t den = uint64_t{m_division} * 1000;
    if (m_tempos.empty() || den == 0) {  // a song that was never read
        return ClampMs(uint64_t{tick} * kDefaultMicrosPerQuarter / (den == 0 ? 480000 : den));
    }
    // Last tempo change at or before the tick; the first one is always at tick 0.
    const std::size_t count = m_tempos.size();
    std::size_t i = m_tempoHint.load(std::memory_order_relaxed);
    auto covers = [&](std::size_t k) {
        return k < count && m_tempos[k].tick <= tick &&
               (k + 1 == count || tick < m_tempos[k + 1].tick);
    };
    if (!covers(i)) {
        if (covers(i + 1)) {
            ++i;
        } else {
            auto it = std::upper_bound(m_tempos.begin(), m_tempos.end(), tick,
                                       [](uint32_t t, const TempoChange& c) { return t < c.tick; });
            i = static_cast<std::size_t>(it - m_tempos.begin()) - 1;
        }
        m_tempoHint.store(static_cast<uint32_t>(i), std::memory_order_relaxed);
    }
    const uint64_t units =
        m_tempoStartUnits[i] + uint64_t{tick - m_tempos[i].tick} * m_tempos[i].microsPerQuarter;
    return ClampMs((units + den / 2) / den);
}

uint32_t TempoMap::MsToTick(uint32_t ms) const {
    // TickToMs never decreases, so the first tick at or after ms is found by bisection; 32
    // conversions cost less than keeping an inverse table that rounding would make inexact.
    uint32_t low = 0;
    uint32_t high = std::numeric_limits<uint32_t>::max();
    if (TickToMs(high) < ms) {
        return high;
    }
    while (low < high) {
        const uint32_t mid = low + (high - low) / 2;
        if (TickToMs(mid) < ms) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

}  // namespace smf
