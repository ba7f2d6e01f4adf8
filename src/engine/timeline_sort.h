#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/performance_event.h"

// The ascending runs of a timeline in the making: where each begins. Counting stops once there
// are too many to merge.
struct TimelineRuns {
    static constexpr size_t kMaxMergeRuns = 64;  // beyond this many, a radix sort is faster
    std::vector<size_t> starts{0};
    uint64_t last = 0;
    void Add(size_t index, uint64_t key) {
        if (key < last && starts.size() <= kMaxMergeRuns) {
            starts.push_back(index);
        }
        last = key;
    }
};

// Sorts events whose sortKey is set, given their runs (see SortPerformanceEvents).
void SortKeyedEvents(std::vector<PerformanceEvent>& events, const TimelineRuns& runs);

// Sorts events by time, then system exclusive messages before channel messages and channel
// messages by channel, keeping the original order of events equal in both. Exposed for tests
// and benchmarks.
void SortPerformanceEvents(std::vector<PerformanceEvent>& events);
