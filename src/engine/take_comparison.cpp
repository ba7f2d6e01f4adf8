#include "engine/take_comparison.h"

#include "engine/part_map.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

int32_t Offset(uint32_t played, uint32_t due) {
    return static_cast<int32_t>(int64_t{played} - int64_t{due});
}

}  // namespace

TakeComparison CompareTake(const NoteSpans& song, PracticeChoice practised, const Take& take) {
    TakeComparison out;
    if (take.empty()) {
        return out;
    }
    // The take's notes, each from its note on to its note off.
    std::array<int, 128> open;
    open.fill(-1);
    for (const TakeEvent& e : take) {
        if (e.kind == TakeEvent::NoteOn) {
            open[e.key] = static_cast<int>(out.played.size());
            out.played.push_back({e.songMs, e.songMs, e.key});
        } else if (e.kind == TakeEvent::NoteOff && open[e.key] >= 0) {
            out.played[static_cast<size_t>(open[e.key])].end = e.songMs;
            open[e.key] = -1;
        }
    }
    const uint32_t from = take.front().songMs;
    const uint32_t to = take.back().songMs;
    std::vector<NoteSpan> due;
    auto consider = [&](const NoteSpan& n) {
        if (IsPractised(Part{n.channel, n.hand}, practised) && n.start + kTakeMatchMs >= from &&
            n.start <= to + kTakeMatchMs) {
            due.push_back(n);
        }
    };
    for (const NoteSpan& n : song.Long()) {
        consider(n);
    }
    const uint32_t low = from > kTakeMatchMs ? from - kTakeMatchMs : 0;
    const auto [first, last] = song.Within(low, to + kTakeMatchMs);
    for (size_t i = first; i < last; ++i) {
        consider(song.Short()[i]);
    }
    std::sort(due.begin(), due.end(),
              [](const NoteSpan& a, const NoteSpan& b) { return a.start < b.start; });
    // Each key played takes the nearest note of its key not answered yet, as a press is scored.
    std::vector<bool> answered(due.size(), false);
    for (TakeComparison::Played& p : out.played) {
        int best = -1;
        const uint32_t earliest = p.start > kTakeMatchMs ? p.start - kTakeMatchMs : 0;
        const auto begin =
            std::lower_bound(due.begin(), due.end(), earliest,
                             [](const NoteSpan& n, uint32_t ms) { return n.start < ms; });
        for (size_t i = static_cast<size_t>(begin - due.begin());
             i < due.size() && due[i].start <= p.start + kTakeMatchMs; ++i) {
            if (answered[i] || due[i].key != p.key) {
                continue;
            }
            if (best < 0 || std::abs(Offset(p.start, due[i].start)) <
                                std::abs(Offset(p.start, due[static_cast<size_t>(best)].start))) {
                best = static_cast<int>(i);
            }
        }
        if (best < 0) {
            p.verdict = TakeComparison::Played::Wrong;
            continue;
        }
        answered[static_cast<size_t>(best)] = true;
        p.offsetMs = Offset(p.start, due[static_cast<size_t>(best)].start);
        p.verdict =
            static_cast<uint32_t>(std::abs(p.offsetMs)) <= kOnTimeMs
                ? TakeComparison::Played::OnTime
                : (p.offsetMs < 0 ? TakeComparison::Played::Early : TakeComparison::Played::Late);
    }
    for (size_t i = 0; i < due.size(); ++i) {
        if (!answered[i] && due[i].start >= from && due[i].start <= to) {
            out.missed.push_back(due[i]);
        }
    }
    return out;
}
