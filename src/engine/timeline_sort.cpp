// Ordering of the timeline: by time, then by key byte, and otherwise in the song's own order.
// A stable order matters: a repeated note's note-off and the next note-on of the same key often
// share a millisecond, and putting the note-on first would cut the new note at once.

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/performance.h"

namespace {

inline uint64_t SortKeyOf(const PerformanceEvent& e) {
    return (uint64_t{e.time} << 8) | e.sortKey;
}

constexpr int kDigits = 5;  // 40-bit key: 32 bits of time and the key byte

}  // namespace

void SortPerformanceEvents(std::vector<PerformanceEvent>& events,
                           const std::vector<SysexRef>& sysex) {
    const size_t n = events.size();
    for (PerformanceEvent& e : events) {
        e.sortKey = e.IsSysex() ? static_cast<uint8_t>(sysex[e.sysex].length & 0xFF) : e.channel;
    }
    if (n < 2) {
        return;
    }

    // One pass gathers the histograms of all five byte digits and notices a timeline that is
    // already in order (a format 0 file often is).
    std::vector<std::array<uint32_t, 256>> counts(kDigits);
    for (auto& c : counts) {
        c.fill(0);
    }
    bool sorted = true;
    uint64_t previous = 0;
    for (const PerformanceEvent& e : events) {
        const uint64_t key = SortKeyOf(e);
        sorted = sorted && previous <= key;
        previous = key;
        for (int d = 0; d < kDigits; ++d) {
            ++counts[d][(key >> (8 * d)) & 0xFF];
        }
    }
    if (sorted) {
        return;
    }
    if (n < 64) {
        std::stable_sort(events.begin(), events.end(),
                         [](const PerformanceEvent& a, const PerformanceEvent& b) {
                             return SortKeyOf(a) < SortKeyOf(b);
                         });
        return;
    }

    // Least significant digit first; each pass is a stable counting sort, so the result is
    // stable. Digits that are the same in every event (high time bytes of a short song) are
    // skipped.
    std::vector<PerformanceEvent> buffer(n);
    PerformanceEvent* src = events.data();
    PerformanceEvent* dst = buffer.data();
    for (int d = 0; d < kDigits; ++d) {
        const unsigned firstDigit = (SortKeyOf(src[0]) >> (8 * d)) & 0xFF;
        if (counts[d][firstDigit] == n) {
            continue;
        }
        std::array<size_t, 256> start;
        size_t sum = 0;
        for (int b = 0; b < 256; ++b) {
            start[b] = sum;
            sum += counts[d][b];
        }
        const int shift = 8 * d;
        for (size_t i = 0; i < n; ++i) {
            const unsigned digit = (SortKeyOf(src[i]) >> shift) & 0xFF;
            dst[start[digit]++] = src[i];
        }
        std::swap(src, dst);
    }
    if (src != events.data()) {
        events.swap(buffer);
    }
}
