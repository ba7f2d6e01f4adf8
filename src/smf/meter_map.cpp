#include "smf/meter_map.h"

#include <algorithm>
#include <limits>

#include "smf/smf.h"

namespace smf {

namespace {
constexpr uint32_t kMetaTimeSignature = 0x58;
constexpr uint32_t kMaxU32 = std::numeric_limits<uint32_t>::max();

uint32_t Clamp32(uint64_t v) {
    return v > kMaxU32 ? kMaxU32 : static_cast<uint32_t>(v);
}

struct SignatureEvent {
    uint32_t tick;
    uint8_t numerator;
    uint8_t denominatorPower;
};

// A quarter note in ticks. Time-code songs have none of their own: there a quarter note is half
// a second, as at the default tempo.
uint32_t TicksPerQuarter(const TempoMap& tempo) {
    const uint16_t division = tempo.Division();
    if (!tempo.IsSmpte()) {
        return std::max<uint32_t>(division, 1);
    }
    const uint32_t fps = static_cast<uint8_t>(-static_cast<int8_t>(division >> 8));
    const uint32_t ticksPerFrame = division & 0xFF;
    return std::max<uint32_t>(fps * ticksPerFrame / 2, 1);
}
}  // namespace

MeterMap::MeterMap() {
    m_tempo.Build(480, {});
    AddSegment(0, 4, 2);
    Finish();
}

MeterMap::MeterMap(const Song& song) : m_tempo(song.Tempo()) {
    m_ticksPerQuarter = TicksPerQuarter(m_tempo);
    std::vector<SignatureEvent> signatures;
    for (const Track& track : song.Tracks()) {
        for (const Event& e : track.events) {
            m_endTick = std::max(m_endTick, e.tick);
            // A numerator of 0 would make an empty bar: such an event is ignored.
            if (e.kind == kMetaBase + kMetaTimeSignature && e.length >= 2 && song.Data(e)[0] != 0) {
                signatures.push_back({e.tick, song.Data(e)[0], song.Data(e)[1]});
            }
        }
    }
    std::stable_sort(
        signatures.begin(), signatures.end(),
        [](const SignatureEvent& a, const SignatureEvent& b) { return a.tick < b.tick; });
    AddSegment(0, 4, 2);
    for (const SignatureEvent& s : signatures) {
        AddSegment(s.tick, s.numerator, s.denominatorPower);
    }
    Finish();
}

void MeterMap::AddSegment(uint32_t tick, uint32_t numerator, uint32_t denominatorPower) {
    Segment next;
    next.tick = tick;
    // A whole note is four quarters; beats shorter than a tick are a tick long.
    const uint64_t whole = uint64_t{m_ticksPerQuarter} * 4;
    next.ticksPerBeat =
        std::max<uint32_t>(Clamp32(whole >> std::min<uint32_t>(denominatorPower, 63)), 1);
    next.beatsPerBar = numerator;
    if (!m_segments.empty()) {
        const Segment& last = m_segments.back();
        if (last.tick == tick) {
            // Several at one tick: the one read last is the meter played.
            next.firstBar = last.firstBar;
            m_segments.back() = next;
            return;
        }
        const uint64_t span = tick - last.tick;
        const uint64_t bars = (span + last.TicksPerBar() - 1) / last.TicksPerBar();
        next.firstBar = Clamp32(last.firstBar + bars);
    }
    m_segments.push_back(next);
}

void MeterMap::Finish() {
    m_barCount = m_endTick == 0 ? 1 : AtTick(m_endTick - 1).bar;
}

const MeterMap::Segment& MeterMap::SegmentOfBar(uint32_t barIndex) const {
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), barIndex,
                               [](uint32_t b, const Segment& s) { return b < s.firstBar; });
    return *(it - 1);
}

const MeterMap::Segment& MeterMap::SegmentOfTick(uint32_t tick) const {
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), tick,
                               [](uint32_t t, const Segment& s) { return t < s.tick; });
    return *(it - 1);
}

uint32_t MeterMap::BarStartTick(uint32_t bar) const {
    const uint32_t index = bar == 0 ? 0 : bar - 1;
    const Segment& s = SegmentOfBar(index);
    return Clamp32(s.tick + uint64_t{index - s.firstBar} * s.TicksPerBar());
}

uint32_t MeterMap::BeatsInBar(uint32_t bar) const {
    const uint32_t index = bar == 0 ? 0 : bar - 1;
    const Segment& s = SegmentOfBar(index);
    // The bar before a change may be cut short.
    const uint32_t start = BarStartTick(bar);
    const auto next =
        std::upper_bound(m_segments.begin(), m_segments.end(), index,
                         [](uint32_t b, const Segment& seg) { return b < seg.firstBar; });
    if (next != m_segments.end() && next->firstBar == index + 1) {
        const uint64_t ticks = next->tick - start;
        return static_cast<uint32_t>((ticks + s.ticksPerBeat - 1) / s.ticksPerBeat);
    }
    return s.beatsPerBar;
}

uint32_t MeterMap::BeatTick(uint32_t bar, uint32_t beat) const {
    const uint32_t index = bar == 0 ? 0 : bar - 1;
    const Segment& s = SegmentOfBar(index);
    const uint64_t beats =
        uint64_t{index - s.firstBar} * s.beatsPerBar + (beat == 0 ? 0 : beat - 1);
    return Clamp32(s.tick + beats * s.ticksPerBeat);
}

BarBeat MeterMap::AtTick(uint32_t tick) const {
    const Segment& s = SegmentOfTick(tick);
    const uint64_t offset = tick - s.tick;
    const uint64_t bars = offset / s.TicksPerBar();
    const uint64_t beat = (offset - bars * s.TicksPerBar()) / s.ticksPerBeat;
    return {Clamp32(s.firstBar + bars + 1), static_cast<uint32_t>(beat + 1)};
}

BarBeat MeterMap::AtMs(uint32_t ms) const {
    if (ms == kMaxU32) {
        return AtTick(kMaxU32);
    }
    const uint32_t after = m_tempo.MsToTick(ms + 1);
    if (after == 0) {
        return AtTick(0);
    }
    // MsToTick answers the last tick when no tick reaches ms + 1.
    const bool reached = m_tempo.TickToMs(after) > ms;
    return AtTick(reached ? after - 1 : after);
}

}  // namespace smf
