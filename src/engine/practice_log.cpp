#include "engine/practice_log.h"

#include "smf/meter_map.h"

uint32_t PracticeLog::BeginSong(const std::string& path,
                                std::shared_ptr<const smf::MeterMap> meter) {
    std::lock_guard<std::mutex> lock(m_lock);
    const uint32_t song = m_nextSong++;
    m_songs[song] = Song{path, std::move(meter)};
    return song;
}

std::shared_ptr<const smf::MeterMap> PracticeLog::MeterOf(uint32_t song) const {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_songs.find(song);
    return it == m_songs.end() ? nullptr : it->second.meter;
}

bool PracticeLog::Settled() {
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_scorer.HasRuns() && m_queue.Empty() && m_input.Empty();
}

std::vector<PracticeRun> PracticeLog::Collect(uint32_t nowMs, bool flush) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_scorer.Feed(m_queue.Take());
    const std::vector<PlayerAction> actions = m_input.Take();
    std::vector<PracticeEvent> presses;
    for (const PlayerAction& a : actions) {
        if (a.kind == PlayerAction::KeyDown && a.scored) {
            PracticeEvent press;
            press.kind = PracticeEvent::KeyDown;
            press.key = a.key;
            press.clockMs = a.clockMs;
            presses.push_back(press);
        }
    }
    m_scorer.Feed(presses);
    m_takes.Feed(actions);
    std::vector<PracticeRun> runs = m_scorer.TakeFinished(nowMs, flush);
    for (PracticeRun& run : runs) {
        run.take = m_takes.TakeOf(run);
        const auto it = m_songs.find(run.song);
        if (it != m_songs.end()) {
            run.songPath = it->second.path;
        }
    }
    // The runs still to come begin where the last one finished ended.
    if (!runs.empty()) {
        m_takes.ForgetBefore(runs.back().startClockMs + runs.back().durationMs);
    }
    return runs;
}
