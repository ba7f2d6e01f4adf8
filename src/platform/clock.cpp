#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace {

uint32_t RealClock() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::atomic<ClockSource> g_source{&RealClock};
std::atomic<uint32_t> g_manual{0};

uint32_t ManualSource() { return g_manual.load(std::memory_order_relaxed); }

}  // namespace

uint32_t NowMs() { return g_source.load(std::memory_order_relaxed)(); }

std::chrono::steady_clock::time_point SteadyTimeWhenClockShows(uint32_t value,
                                                               std::chrono::microseconds into) {
    using namespace std::chrono;
    const steady_clock::time_point now = steady_clock::now();
    if (g_source.load(std::memory_order_relaxed) != &RealClock) {
        return now + milliseconds(1);
    }
    const uint32_t current =
        static_cast<uint32_t>(duration_cast<milliseconds>(now.time_since_epoch()).count());
    const uint32_t ahead = value - current;
    if (ahead == 0 || ahead > 0x7FFFFFFFu) {
        return now;
    }
    return time_point_cast<milliseconds>(now) + milliseconds(ahead) + into;
}

void SetClockSourceForTest(ClockSource source) {
    g_source.store(source ? source : &RealClock, std::memory_order_relaxed);
}

void ManualClock::Install() { SetClockSourceForTest(&ManualSource); }
void ManualClock::Uninstall() { SetClockSourceForTest(nullptr); }
void ManualClock::Set(uint32_t ms) { g_manual.store(ms, std::memory_order_relaxed); }
void ManualClock::Advance(uint32_t ms) { g_manual.fetch_add(ms, std::memory_order_relaxed); }
uint32_t ManualClock::Get() { return g_manual.load(std::memory_order_relaxed); }
