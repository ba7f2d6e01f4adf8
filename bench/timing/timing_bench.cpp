// pelorvane-bench-timing [--lesson] [SECONDS]
//
// Plays a dense generated song through the in-memory MIDI service with the real clock thread,
// while another thread keeps the second core busy, and reports how late each event was sent
// (send time minus play start plus song time at x1.0) and the clock thread's CPU use. With
// --lesson it plays the my-pace lesson instead, answers each awaited chord like a player, and
// reports the time from the key that completes a chord to the first held-back event sent.
// The playback line also gives the clock thread's wake-ups per second and, to compare them with,
// the distinct milliseconds per second at which events were due.

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "dense_song.h"
#include "engine/clock_thread_priority.h"
#include "engine/performance.h"
#include "engine/window_core.h"
#include "timed_service.h"

namespace {

// The window's questions: the one song is always selected, at the usual speed.
class BenchHost : public CoreHost {
  public:
    int SelectedSongRow() override { return 0; }
    int SpeedSliderPosition() override { return kDefaultSpeedPosition; }
    void LightModeLed(int) override {}
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
};

std::set<std::string> ThreadIds() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(entry.path().filename().string());
    }
    return ids;
}

// Nanoseconds the thread has spent on a CPU.
uint64_t ThreadCpuNs(const std::string& tid) {
    std::ifstream in(tid == "thread-self" ? std::string("/proc/thread-self/schedstat")
                                          : "/proc/self/task/" + tid + "/schedstat");
    uint64_t ns = 0;
    in >> ns;
    return ns;
}

double Percentile(std::vector<double> v, int p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100);
    return v[i];
}

void Sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// The full steady-clock microseconds of a NowMs() value taken during this run.
uint64_t MicrosOfClockValue(uint32_t ms) {
    const uint64_t nowMs = SteadyMicros() / 1000;
    uint64_t full = (nowMs & ~0xFFFFFFFFull) | ms;
    if (full > nowMs) {
        full -= 0x100000000ull;
    }
    return full * 1000;
}

bool IsSongMessage(uint32_t packed) {
    const uint32_t status = packed & 0xFF;
    return status >= 0x80 && status <= 0xEF && (status & 0x0F) != 0;
}

// What waking alone costs on this machine: percent of one core used by a thread of the clock's
// priority that does nothing but sleep until the next of `perSecond` evenly spaced moments.
double BareWakeCpu(double perSecond, double seconds) {
    if (perSecond <= 0) {
        return 0;
    }
    double cpu = 0;
    std::thread sleeper([&] {
        RaiseClockThreadPriority();
        const auto period = std::chrono::duration<double>(1.0 / perSecond);
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        const uint64_t cpu0 = ThreadCpuNs("thread-self");
        for (auto next = start; next < end;) {
            next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
            std::this_thread::sleep_until(next);
        }
        cpu = (ThreadCpuNs("thread-self") - cpu0) / (seconds * 1e7);
    });
    sleeper.join();
    return cpu;
}

int RunPlayback(CPelorvaneCore& core, TimedService& timed, const std::string& clockTid,
                uint32_t seconds) {
    // Stopped, with a performance present: the clock still ticks and updates the lights.
    core.StartPlay(PlayMode::ModelPerformance);
    core.StopPlay();
    const double idleSeconds = std::clamp(seconds / 5.0, 1.0, 5.0);
    uint64_t cpu0 = ThreadCpuNs(clockTid);
    Sleep(idleSeconds);
    const double idleCpu = (ThreadCpuNs(clockTid) - cpu0) / (idleSeconds * 1e7);

    core.StartPlay(PlayMode::ModelPerformance);
    cpu0 = ThreadCpuNs(clockTid);
    const uint64_t wakeups0 = core.Session().ClockWakeups();
    Sleep(seconds);
    const double playCpu = (ThreadCpuNs(clockTid) - cpu0) / (seconds * 1e7);
    const double wakeups = static_cast<double>(core.Session().ClockWakeups() - wakeups0) / seconds;

    std::vector<double> lateness;
    size_t eventMs = 0;  // distinct milliseconds of the events played
    {
        CheckedLock lock(core.Session().PlayLock());
        const Performance& p = *core.Session().CurrentPerformance();
        const std::vector<TimedMessage> log = timed.Log();
        const size_t sent = p.GetPlayer().Cursor();
        if (sent > log.size()) {
            std::fprintf(stderr, "fewer messages recorded than events played\n");
            return 1;
        }
        const uint64_t start = MicrosOfClockValue(core.Session().PlayStartTime());
        const size_t first = log.size() - sent;
        for (size_t k = 0; k < sent; ++k) {
            const PerformanceEvent& e = p.GetTimeline()[k];
            const uint32_t expected = e.status | e.channel | (uint32_t{e.data1} << 8);
            if ((log[first + k].packed & 0xFFFF) != expected) {
                std::fprintf(stderr, "message %zu does not match event %zu\n", first + k, k);
                return 1;
            }
            if (k == 0 || e.time != p.GetTimeline()[k - 1].time) {
                ++eventMs;
            }
            const uint64_t ideal = start + uint64_t{e.time} * 1000;
            lateness.push_back(
                (static_cast<double>(log[first + k].micros) - static_cast<double>(ideal)) / 1000.0);
        }
    }
    core.StopPlay();
    std::printf("stopped clock_cpu=%.2f\n", idleCpu);
    std::printf(
        "lateness p50=%.2f p99=%.2f max=%.2f events=%zu clock_cpu=%.2f wakeups=%.0f "
        "event_ms=%.0f\n",
        Percentile(lateness, 50), Percentile(lateness, 99), Percentile(lateness, 100),
        lateness.size(), playCpu, wakeups, static_cast<double>(eventMs) / seconds);
    std::printf("bare_wake_cpu=%.2f (a thread that only sleeps, woken as often as the clock)\n",
                BareWakeCpu(wakeups, std::clamp(seconds / 2.0, 1.0, 10.0)));
    return 0;
}

int RunLesson(CPelorvaneCore& core, InMemoryMidiService& memory, TimedService& timed,
              uint32_t seconds) {
    core.StartPlay(PlayMode::MyPaceLesson);
    std::mt19937 rng(99);
    std::vector<uint64_t> completions;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::vector<int> keys;
        {
            CheckedLock lock(core.Session().PlayLock());
            const Performance* p = core.Session().CurrentPerformance();
            if (core.CurrentPlayState() == Stopped) {
                break;
            }
            if (p && p->Waiting()) {
                const Chord& awaited = p->GetLesson().AwaitedChord();
                for (int s = 0; s < awaited.count; ++s) {
                    if (awaited.index[s] != Chord::kPlayed) {
                        keys.push_back(p->GetTimeline()[awaited.index[s]].data1);
                    }
                }
            }
        }
        if (keys.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        // A player's reaction, the chord's keys one after the other, and the keys let go.
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + rng() % 30));
        for (size_t i = 0; i + 1 < keys.size(); ++i) {
            memory.InjectInput(PackShortMessage(0x90, static_cast<uint8_t>(keys[i]), 100));
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        completions.push_back(SteadyMicros());
        memory.InjectInput(PackShortMessage(0x90, static_cast<uint8_t>(keys.back()), 100));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        for (int key : keys) {
            memory.InjectInput(PackShortMessage(0x80, static_cast<uint8_t>(key), 0));
        }
    }
    core.StopPlay();

    const std::vector<TimedMessage> log = timed.Log();
    std::vector<double> response;
    size_t from = 0;
    for (uint64_t t : completions) {
        while (from < log.size() && log[from].micros < t) {
            ++from;
        }
        size_t i = from;
        while (i < log.size() && !IsSongMessage(log[i].packed)) {
            ++i;
        }
        if (i < log.size()) {
            response.push_back((log[i].micros - t) / 1000.0);
        }
    }
    std::printf("lesson p50=%.2f p99=%.2f max=%.2f chords=%zu\n", Percentile(response, 50),
                Percentile(response, 99), Percentile(response, 100), response.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool lesson = false;
    uint32_t seconds = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lesson") == 0) {
            lesson = true;
        } else if (argv[i][0] >= '1' && argv[i][0] <= '9') {
            seconds = static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: %s [--lesson] [SECONDS]\n", argv[0]);
            return 2;
        }
    }

    std::string dir = (std::filesystem::temp_directory_path() / "pv-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        return 1;
    }

    InMemoryMidiService memory({"Digital Keyboard-1"}, {"Digital Keyboard-1"});
    TimedService timed(memory);
    int result = 0;
    {
        BenchHost host;
        CPelorvaneCore core(timed, host, dir);
        const std::vector<uint8_t> bytes = GenerateDenseSong(seconds + 10, lesson);
        SongEntry entry;
        entry.m_path = "dense.mid";
        entry.m_midiData = smf::LoadFromMemory(bytes.data(), bytes.size());
        if (!entry.m_midiData) {
            std::fprintf(stderr, "the generated song did not load\n");
            return 1;
        }
        entry.m_channels[0].m_practice = 1;
        core.Songs().m_entries.push_back(entry);
        core.OpenMidiDevices();

        std::atomic<bool> stop{false};
        std::thread busy([&] {
            volatile uint64_t x = 1;
            while (!stop.load(std::memory_order_relaxed)) {
                x = x * 6364136223846793005ull + 1;
            }
        });
        const std::set<std::string> before = ThreadIds();
        core.StartClockThread();
        std::string clockTid;
        for (const std::string& id : ThreadIds()) {
            if (!before.count(id)) {
                clockTid = id;
            }
        }

        result = lesson ? RunLesson(core, memory, timed, seconds)
                        : RunPlayback(core, timed, clockTid, seconds);
        stop = true;
        busy.join();
        core.ShutDown();
    }
    std::filesystem::remove_all(dir);
    return result;
}
