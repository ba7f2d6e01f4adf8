// Time of a jump anywhere in a 2,000,000-event song: the state the seek index gives for many
// places spread over the whole song, and the time to build the index once.
//
//   pelorvane-bench-seek [JUMPS]
//
// Prints  index_build=<ms>  and  seek p50=<ms> p99=<ms> max=<ms> jumps=<n> events=<n>.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "big_song.h"
#include "engine/performance.h"
#include "engine/seek_index.h"
#include "smf/smf.h"

namespace {
double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}
}  // namespace

int main(int argc, char** argv) {
    const int jumps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const std::vector<uint8_t> bytes = MakeBigSong(1000000);
    auto song = smf::LoadFromMemory(bytes.data(), bytes.size());
    if (!song) {
        std::fprintf(stderr, "the generated song did not load\n");
        return 1;
    }
    Performance performance(nullptr);
    performance.Build(*song);
    const std::vector<PerformanceEvent>& events = performance.m_events;

    SeekIndex index;
    const auto buildStart = std::chrono::steady_clock::now();
    index.Build(events, performance.m_sysex, performance.m_sysexBytes);
    std::printf("index_build=%.2f\n", Ms(std::chrono::steady_clock::now() - buildStart));

    std::mt19937 rng(12345);
    const uint32_t songEnd = events.empty() ? 0 : events.back().time;
    std::vector<double> times;
    std::vector<PerformanceEvent> out;
    std::size_t sent = 0;
    for (int i = 0; i < jumps; ++i) {
        const uint32_t target = songEnd == 0 ? 0 : static_cast<uint32_t>(rng() % songEnd);
        out.clear();
        const auto start = std::chrono::steady_clock::now();
        const uint32_t position = SeekIndex::PositionAt(events, target);
        index.StateBefore(events, position, out);
        times.push_back(Ms(std::chrono::steady_clock::now() - start));
        sent += out.size();
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
    std::printf("seek p50=%.3f p99=%.3f max=%.3f jumps=%d events=%zu messages=%zu\n", at(0.5),
                at(0.99), times.back(), jumps, events.size(), sent / times.size());
    return 0;
}
