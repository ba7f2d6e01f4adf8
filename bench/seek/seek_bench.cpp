// Time of a jump anywhere in a 2,000,000-event song, as the performance makes it while playing
// (notes stopped, state worked out, the next chord found; sent to an output that takes
// everything at once), and the time to build the seek index, which the first jump pays.
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
#include "engine/performance_seek.h"
#include "engine/seek_index.h"
#include "smf/smf.h"

namespace {
// A device that takes every message at once, so that the figure is the engine's own.
class NullDevice : public MidiOut {
  public:
    int SendShort(uint32_t) override {
        ++shorts;
        return 0;
    }
    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override {
        buffer->done.store(true);
        return 0;
    }
    void Close() override {}
    std::size_t shorts = 0;
};

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
    auto device = std::make_shared<NullDevice>();
    Performance performance(device);
    performance.Build(*song);
    performance.Rewind();
    const std::vector<PerformanceEvent>& events = performance.GetTimeline().Events();

    SeekIndex index;
    const auto buildStart = std::chrono::steady_clock::now();
    index.Build(events, performance.GetTimeline().SysexTable(),
                performance.GetTimeline().SysexPool());
    std::printf("index_build=%.2f\n", Ms(std::chrono::steady_clock::now() - buildStart));

    std::mt19937 rng(12345);
    const uint32_t songEnd = events.empty() ? 0 : events.back().time;
    std::vector<double> times;
    PerformanceSeek seek(performance);
    seek.JumpTo(0);  // builds its own index
    device->shorts = 0;
    for (int i = 0; i < jumps; ++i) {
        const uint32_t target = songEnd == 0 ? 0 : static_cast<uint32_t>(rng() % songEnd);
        const auto start = std::chrono::steady_clock::now();
        seek.JumpTo(target);
        times.push_back(Ms(std::chrono::steady_clock::now() - start));
        // Notes that sound at the new place, as if it had played on a while.
        performance.Advance(performance.GetPlayer().LastElapsed() + 50);
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
    std::printf("seek p50=%.3f p99=%.3f max=%.3f jumps=%d events=%zu messages=%zu\n", at(0.5),
                at(0.99), times.back(), jumps, events.size(), device->shorts / times.size());
    return 0;
}
