// What scoring a long run costs on the thread that collects it: a run of HOURS at 8 notes a
// second, once as an accompaniment (every note answered 20 ms late, a wrong key every second)
// and once as a lesson (a chord a second, each completed after 300 ms with a wrong key before).
// Prints `accompaniment=… ms lesson=… ms` for the last collect, which scores the whole run.
//   pelorvane-bench-scoring [HOURS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/play_mode.h"
#include "engine/practice_scorer.h"

namespace {

PracticeEvent Event(PracticeEvent::Kind kind, uint32_t clockMs, uint8_t key = 0) {
    PracticeEvent e;
    e.kind = kind;
    e.clockMs = clockMs;
    e.songMs = clockMs;
    e.key = key;
    return e;
}

PracticeEvent Start(PlayMode mode) {
    PracticeEvent e = Event(PracticeEvent::RunStart, 0);
    e.mode = static_cast<uint8_t>(mode);
    e.value = 100;
    return e;
}

std::vector<PracticeEvent> Accompaniment(uint32_t endMs) {
    std::vector<PracticeEvent> events{Start(PlayMode::Accompaniment)};
    for (uint32_t ms = 1000; ms < endMs; ms += 125) {
        const auto key = static_cast<uint8_t>(48 + (ms / 125 * 7) % 36);
        events.push_back(Event(PracticeEvent::PracticeNote, ms, key));
        events.push_back(Event(PracticeEvent::KeyDown, ms + 20, key));
        if (ms % 1000 == 0) {
            events.push_back(Event(PracticeEvent::KeyDown, ms + 60, 100));
        }
    }
    events.push_back(Event(PracticeEvent::RunEnd, endMs));
    return events;
}

std::vector<PracticeEvent> Lesson(uint32_t endMs) {
    std::vector<PracticeEvent> events{Start(PlayMode::MyPaceLesson)};
    for (uint32_t ms = 1000; ms + 1000 < endMs; ms += 1000) {
        const auto key = static_cast<uint8_t>(48 + (ms / 1000 * 7) % 36);
        PracticeEvent due = Event(PracticeEvent::ChordDue, ms);
        due.count = 1;
        due.keys[0] = key;
        events.push_back(due);
        events.push_back(Event(PracticeEvent::KeyDown, ms + 100, 100));
        events.push_back(Event(PracticeEvent::KeyDown, ms + 300, key));
        events.push_back(Event(PracticeEvent::ChordDone, ms + 300));
    }
    events.push_back(Event(PracticeEvent::RunEnd, endMs));
    return events;
}

double ScoreMs(const std::vector<PracticeEvent>& events, uint32_t endMs, size_t& scored) {
    PracticeScorer scorer;
    scorer.Feed(events);
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<PracticeRun> runs = scorer.TakeFinished(endMs + 1000, true);
    const auto t1 = std::chrono::steady_clock::now();
    scored = runs.empty() ? 0 : runs.front().notes.size() + runs.front().chords.size();
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int hours = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const uint32_t endMs = static_cast<uint32_t>(hours) * 3600000;
    size_t notes = 0;
    size_t chords = 0;
    const double accompaniment = ScoreMs(Accompaniment(endMs), endMs, notes);
    const double lesson = ScoreMs(Lesson(endMs), endMs, chords);
    std::printf("%d h: accompaniment=%.1f ms (%zu notes) lesson=%.1f ms (%zu chords)\n", hours,
                accompaniment, notes, lesson, chords);
    return notes > 0 && chords > 0 ? 0 : 1;
}
