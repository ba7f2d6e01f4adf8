// Ordering of the timeline: by time, then by key byte (system exclusive first, then channel by
// channel), and otherwise in the song's own order.
// A stable order matters: a repeated note's note-off and the next note-on of the same key often
// share a millisecond, and putting the note-on first would cut the new note at once.
//
// The events arrive track after track, and each track is already in time order, so the
// timeline is usually a handful of ascending runs (one per track when a track keeps to one
// channel). Those are merged in one pass; a timeline of many short runs (a format 0 file with
// chords across channels) goes through a stable radix sort instead.

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/timeline_sort.h"
#include "smf/huge_pages.h"

namespace {

constexpr int kDigits = 5;  // 40-bit key: 32 bits of time and the key byte
static_assert(TimelineRuns::kMaxMergeRuns <= 256,
              "a run's position must fit in the low byte of its rank");

struct Run {
    uint64_t rank;  // key of *next, then the run's position in the input, which keeps it stable
    const PerformanceEvent* next;
    const PerformanceEvent* end;
};

inline uint64_t RankOf(const PerformanceEvent& e, uint64_t order) {
    return SortKeyOf(e) << 8 | order;
}

// Restores the min-heap below position i.
void SiftDown(std::vector<Run>& heap, size_t i) {
    const size_t n = heap.size();
    Run moving = heap[i];
    for (;;) {
        size_t child = 2 * i + 1;
        if (child >= n) {
            break;
        }
        if (child + 1 < n && heap[child + 1].rank < heap[child].rank) {
            ++child;
        }
        if (heap[child].rank >= moving.rank) {
            break;
        }
        heap[i] = heap[child];
        i = child;
    }
    heap[i] = moving;
}

void MergeRuns(const PerformanceEvent* src, const std::vector<size_t>& starts, size_t n,
               std::vector<PerformanceEvent>& out) {
    out.reserve(n);
    smf::AdviseHugePages(out.data(), n * sizeof(PerformanceEvent));
    std::vector<Run> heap;
    heap.reserve(starts.size());
    for (size_t r = 0; r < starts.size(); ++r) {
        const size_t end = r + 1 < starts.size() ? starts[r + 1] : n;
        heap.push_back({RankOf(src[starts[r]], r), src + starts[r], src + end});
    }
    for (size_t i = heap.size() / 2; i-- > 0;) {
        SiftDown(heap, i);
    }
    while (heap.size() > 1) {
        Run& top = heap.front();
        const uint64_t order = top.rank & 0xFF;
        // Take from the leading run for as long as it stays ahead of every other run head.
        const uint64_t limit =
            heap.size() > 2 && heap[2].rank < heap[1].rank ? heap[2].rank : heap[1].rank;
        do {
            out.push_back(*top.next++);
            if (top.next == top.end) {
                break;
            }
            top.rank = RankOf(*top.next, order);
        } while (top.rank < limit);
        if (top.next == top.end) {
            heap.front() = heap.back();
            heap.pop_back();
        }
        SiftDown(heap, 0);
    }
    if (!heap.empty()) {
        out.insert(out.end(), heap.front().next, heap.front().end);
    }
}

void RadixSort(std::vector<PerformanceEvent>& events,
               const std::vector<std::array<uint32_t, 256>>& counts) {
    const size_t n = events.size();
    // Least significant digit first; each pass is a stable counting sort. Digits that are the
    // same in every event (high time bytes of a short song) are skipped.
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

}  // namespace

void SortPerformanceEvents(std::vector<PerformanceEvent>& events) {
    for (PerformanceEvent& e : events) {
        e.sortKey = TimelineSortKey(e);
    }
    TimelineRuns runs;
    for (size_t i = 0; i < events.size(); ++i) {
        runs.Add(i, SortKeyOf(events[i]));
    }
    SortKeyedEvents(events, runs);
}

void SortKeyedEvents(std::vector<PerformanceEvent>& events, const TimelineRuns& runs) {
    const size_t n = events.size();
    if (n < 2 || runs.starts.size() == 1) {
        return;  // already in order
    }
    if (runs.starts.size() <= TimelineRuns::kMaxMergeRuns) {
        std::vector<PerformanceEvent> merged;
        MergeRuns(events.data(), runs.starts, n, merged);
        events.swap(merged);
        return;
    }

    std::vector<std::array<uint32_t, 256>> counts(kDigits);
    for (auto& c : counts) {
        c.fill(0);
    }
    for (const PerformanceEvent& e : events) {
        const uint64_t key = SortKeyOf(e);
        for (int d = 0; d < kDigits; ++d) {
            ++counts[d][(key >> (8 * d)) & 0xFF];
        }
    }
    RadixSort(events, counts);
}
