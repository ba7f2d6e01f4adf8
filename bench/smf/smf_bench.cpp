// Load time of a 1,000,000-note MIDI file, alone and with the building of its Performance.
//
//   smf_bench [--file=PATH] [Google Benchmark flags]
//
// The generated file stays at PATH (default $TMPDIR/pelorvane_1m_notes.mid) so that the memory
// of the inspector can be measured on it afterwards.

#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "big_song.h"
#include "engine/performance.h"
#include "smf/smf.h"

namespace {

std::string g_path;

std::size_t CountEvents(const smf::Song& song) {
    std::size_t n = 0;
    for (const smf::Track& t : song.Tracks()) {
        n += t.events.size();
    }
    return n;
}

void BM_Load(benchmark::State& state) {
    std::size_t events = 0;
    for (auto _ : state) {
        auto song = smf::LoadFromFile(g_path);
        if (!song) {
            state.SkipWithError("the file did not load");
            return;
        }
        events = CountEvents(*song);
        benchmark::DoNotOptimize(song.get());
    }
    state.counters["events"] = static_cast<double>(events);
}

void BM_LoadAndBuild(benchmark::State& state) {
    std::size_t timeline = 0;
    for (auto _ : state) {
        auto song = smf::LoadFromFile(g_path);
        if (!song) {
            state.SkipWithError("the file did not load");
            return;
        }
        Performance performance(nullptr);
        performance.Build(*song);
        timeline = performance.GetTimeline().Events().size();
        benchmark::DoNotOptimize(performance.GetTimeline().Events().data());
    }
    state.counters["timeline_events"] = static_cast<double>(timeline);
    state.counters["bytes_per_timeline_event"] = sizeof(PerformanceEvent);
}

BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadAndBuild)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    g_path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pelorvane_1m_notes.mid";
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--file=", 7) == 0) {
            g_path = argv[i] + 7;
        } else {
            rest.push_back(argv[i]);
        }
    }
    const std::vector<uint8_t> bytes = MakeBigSong(1000000);
    if (!WriteFileBytes(g_path, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", g_path.c_str());
        return 1;
    }
    std::fprintf(stderr, "test file: %s (%zu bytes)\n", g_path.c_str(), bytes.size());
    std::fprintf(stderr, "sizeof(smf::Event) = %zu, sizeof(PerformanceEvent) = %zu\n",
                 sizeof(smf::Event), sizeof(PerformanceEvent));

    // The first load of a process is what a user waits for: nothing is cached in the allocator
    // yet, so every page of the song is fresh. CPU time is shown beside the wall time because
    // other work on a busy machine inflates the latter.
    {
        struct Stamp {
            std::chrono::steady_clock::time_point wall;
            double cpuMs;
        };
        auto now = [] {
            timespec cpu{};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
            return Stamp{std::chrono::steady_clock::now(), cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6};
        };
        auto print = [](const char* what, const Stamp& a, const Stamp& b) {
            std::fprintf(stderr, "first %s: %.1f ms wall, %.1f ms CPU\n", what,
                         std::chrono::duration<double, std::milli>(b.wall - a.wall).count(),
                         b.cpuMs - a.cpuMs);
        };
        const Stamp start = now();
        auto song = smf::LoadFromFile(g_path);
        const Stamp loaded = now();
        Performance performance(nullptr);
        if (song) {
            performance.Build(*song);
        }
        const Stamp built = now();
        print("load", start, loaded);
        print("Build", loaded, built);
        print("load + Build", start, built);
    }

    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
