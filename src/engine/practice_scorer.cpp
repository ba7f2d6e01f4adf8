// Scoring: each awaited chord's wait and the wrong keys pressed meanwhile; each silenced practice
// note matched to a press of its key near its ideal time.

#include "engine/practice_scorer.h"

#include <algorithm>

#include "engine/lesson.h"

namespace {

// Clock readings wrap; a difference taken as signed orders two close readings.
int32_t Diff(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b);
}

}  // namespace

PracticeScorer::OpenRun* PracticeScorer::Current() {
    if (m_runs.empty() || m_runs.back().ended) {
        return nullptr;
    }
    return &m_runs.back();
}

void PracticeScorer::StartRun(const PracticeEvent& start, uint32_t songMs) {
    OpenRun open;
    open.run.song = start.song;
    open.run.mode = static_cast<PlayMode>(start.mode);
    open.run.hand = static_cast<Hand>(start.hand);
    open.run.speedPercent = static_cast<int>(start.value);
    open.run.startSongMs = songMs;
    open.run.endSongMs = songMs;
    open.run.startClockMs = start.clockMs;
    m_runs.push_back(std::move(open));
}

void PracticeScorer::EndRun(uint32_t clockMs, uint32_t songMs) {
    OpenRun* open = Current();
    if (!open) {
        return;
    }
    open->ended = true;
    open->endClockMs = clockMs;
    open->run.endSongMs = songMs;
    open->run.durationMs = clockMs - open->run.startClockMs;
}

void PracticeScorer::Feed(const std::vector<PracticeEvent>& events) {
    for (const PracticeEvent& e : events) {
        switch (e.kind) {
            case PracticeEvent::RunStart:
                if (OpenRun* open = Current()) {
                    EndRun(e.clockMs, open->run.endSongMs);
                }
                StartRun(e, e.songMs);
                break;
            case PracticeEvent::RunEnd:
                EndRun(e.clockMs, e.songMs);
                break;
            case PracticeEvent::LoopPass:
                if (OpenRun* open = Current()) {
                    PracticeEvent next;
                    next.clockMs = e.clockMs;
                    next.song = open->run.song;
                    next.mode = static_cast<uint8_t>(open->run.mode);
                    next.hand = static_cast<uint8_t>(open->run.hand);
                    next.value = static_cast<uint32_t>(open->run.speedPercent);
                    EndRun(e.clockMs, e.songMs);
                    StartRun(next, e.value);
                }
                break;
            case PracticeEvent::KeyDown:
                m_presses.push_back({e.clockMs, e.key, false});
                break;
            case PracticeEvent::ChordDue:
                if (OpenRun* open = Current()) {
                    open->chords.push_back({e, 0, false});
                }
                break;
            case PracticeEvent::ChordDone:
                if (OpenRun* open = Current(); open && !open->chords.empty()) {
                    DueChord& last = open->chords.back();
                    if (!last.done) {
                        last.done = true;
                        last.doneMs = e.clockMs;
                    }
                }
                break;
            case PracticeEvent::PracticeNote:
                if (OpenRun* open = Current()) {
                    open->notes.push_back({e.clockMs, e.songMs, e.key});
                }
                break;
        }
    }
}

std::vector<PracticeRun> PracticeScorer::TakeFinished(uint32_t nowMs, bool flush) {
    if (flush) {
        if (OpenRun* open = Current()) {
            EndRun(nowMs, open->run.endSongMs);
        }
    }
    std::vector<PracticeRun> out;
    while (!m_runs.empty() && m_runs.front().ended &&
           (flush || Diff(nowMs, m_runs.front().endClockMs) > static_cast<int32_t>(kMatchWindow))) {
        out.push_back(Score(m_runs.front()));
        m_runs.pop_front();
    }
    DropOldPresses(nowMs);
    return out;
}

void PracticeScorer::DropOldPresses(uint32_t nowMs) {
    // A press can still matter to a run not yet scored, or to the first notes of the next run.
    const uint32_t keepFrom =
        (m_runs.empty() ? nowMs : m_runs.front().run.startClockMs) - kMatchWindow;
    std::erase_if(m_presses, [keepFrom](const Press& p) { return Diff(p.clockMs, keepFrom) < 0; });
}

// A run of hours holds tens of thousands of presses: each chord or note looks only at the
// presses in its own reach, or the last collect would hold up the window for seconds.
void PracticeScorer::SortPresses() {
    std::stable_sort(m_presses.begin(), m_presses.end(),
                     [](const Press& a, const Press& b) { return Diff(a.clockMs, b.clockMs) < 0; });
}

std::vector<PracticeScorer::Press>::iterator PracticeScorer::FirstPressFrom(uint32_t clockMs) {
    return std::lower_bound(m_presses.begin(), m_presses.end(), clockMs,
                            [](const Press& p, uint32_t ms) { return Diff(p.clockMs, ms) < 0; });
}

PracticeRun PracticeScorer::Score(OpenRun& open) {
    PracticeRun run = std::move(open.run);
    if (run.mode == PlayMode::MyPaceLesson) {
        ScoreLesson(open, run);
    } else if (run.mode == PlayMode::Accompaniment) {
        ScoreAccompaniment(open, run);
    }
    return run;
}

void PracticeScorer::ScoreLesson(OpenRun& open, PracticeRun& run) {
    // A chord still awaited when play stopped was never completed; it has no wait to give. A
    // key pressed in the millisecond of the completion belongs to what comes next.
    // A key of the next chord pressed in the second before it comes due plays that chord early,
    // as the lesson takes it; that second is song time, so it is longer on the clock when slow.
    const int32_t early = static_cast<int32_t>(
        Lesson::kEarlyPressWindow * 100 / static_cast<uint32_t>(std::max(1, run.speedPercent)));
    auto holds = [](const PracticeEvent& due, uint8_t key) {
        const auto begin = due.keys.begin();
        const auto end = begin + due.count;
        return std::find(begin, end, key) != end;
    };
    SortPresses();
    for (size_t c = 0; c < open.chords.size(); ++c) {
        const DueChord& chord = open.chords[c];
        if (!chord.done) {
            continue;
        }
        const DueChord* next = c + 1 < open.chords.size() ? &open.chords[c + 1] : nullptr;
        PracticeRun::ChordWait wait;
        wait.songMs = chord.due.songMs;
        wait.waitMs = static_cast<uint32_t>(std::max(0, Diff(chord.doneMs, chord.due.clockMs)));
        for (auto it = FirstPressFrom(chord.due.clockMs); it != m_presses.end(); ++it) {
            const Press& p = *it;
            if (Diff(p.clockMs, chord.doneMs) >= 0) {
                break;
            }
            if (holds(chord.due, p.key)) {
                continue;
            }
            if (next && holds(next->due, p.key) && Diff(next->due.clockMs, p.clockMs) <= early) {
                continue;
            }
            ++wait.wrong;
        }
        run.chords.push_back(wait);
    }
}

void PracticeScorer::ScoreAccompaniment(OpenRun& open, PracticeRun& run) {
    std::stable_sort(open.notes.begin(), open.notes.end(),
                     [](const Note& a, const Note& b) { return Diff(a.idealMs, b.idealMs) < 0; });
    SortPresses();
    const int32_t window = static_cast<int32_t>(kMatchWindow);
    for (const Note& note : open.notes) {
        PracticeRun::NoteScore score;
        score.songMs = note.songMs;
        score.key = note.key;
        // Notes go in time order, so the earliest free press in reach leaves the later ones
        // for the notes after it.
        for (auto it = FirstPressFrom(note.idealMs - kMatchWindow); it != m_presses.end(); ++it) {
            Press& p = *it;
            const int32_t error = Diff(p.clockMs, note.idealMs);
            if (error > window) {
                break;
            }
            if (p.used || p.key != note.key) {
                continue;
            }
            p.used = true;
            score.hit = true;
            score.errorMs = error;
            break;
        }
        run.notes.push_back(score);
    }
    for (Press& p : m_presses) {
        if (!p.used && Diff(p.clockMs, run.startClockMs) >= 0 &&
            Diff(p.clockMs, open.endClockMs) <= 0) {
            p.used = true;
            ++run.extra;
        }
    }
}
