#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/player_input.h"
#include "engine/practice_queue.h"
#include "engine/practice_run.h"
#include "engine/practice_scorer.h"
#include "engine/take_recorder.h"

namespace smf {
class MeterMap;
}

// The practice record of one core: the queue its clock thread hands over to, the stream of what
// the learner plays, and the scoring of both, done by whoever collects the runs.
class PracticeLog {
  public:
    PracticeQueue& Queue() { return m_queue; }
    PlayerInput& Input() { return m_input; }

    // A song prepared for play; its number goes with every run of it. Any thread but the clock
    // and input threads.
    uint32_t BeginSong(const std::string& path, std::shared_ptr<const smf::MeterMap> meter);
    std::shared_ptr<const smf::MeterMap> MeterOf(uint32_t song) const;

    // Scores what has been handed over and returns the runs finished by nowMs, oldest first,
    // each with its song's path and its take. flush: also the run playing, without waiting for late
    // presses.
    std::vector<PracticeRun> Collect(uint32_t nowMs, bool flush = false);
    // Nothing handed over waits to be collected, and no run is open or waits to be taken: a
    // collector may rest until play starts again.
    bool Settled();

  private:
    struct Song {
        std::string path;
        std::shared_ptr<const smf::MeterMap> meter;
    };
    PracticeQueue m_queue;
    PlayerInput m_input;
    mutable std::mutex m_lock;  // the songs, the scorer and the takes
    PracticeScorer m_scorer;
    TakeRecorder m_takes;
    std::map<uint32_t, Song> m_songs;
    uint32_t m_nextSong = 1;
};
