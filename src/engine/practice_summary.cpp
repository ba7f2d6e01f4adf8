// The figures of a scored run: accuracy, timing, the bars played and the hardest bars.

#include <algorithm>
#include <map>

#include "engine/practice_run.h"
#include "smf/meter_map.h"

namespace {

int32_t Quantile(std::vector<int32_t> values, int percent) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t at = (values.size() - 1) * static_cast<size_t>(percent) / 100;
    return values[at];
}

}  // namespace

const char* PlayModeName(PlayMode mode) {
    switch (mode) {
        case PlayMode::MyPaceLesson:
            return "lesson";
        case PlayMode::Accompaniment:
            return "accompaniment";
        case PlayMode::Solo:
            return "solo";
        case PlayMode::ModelPerformance:
        default:
            return "model";
    }
}

const char* HandName(Hand hand) {
    switch (hand) {
        case Hand::Right:
            return "right";
        case Hand::Left:
            return "left";
        case Hand::Both:
        default:
            return "both";
    }
}

PracticeSummary Summarize(const PracticeRun& run, const smf::MeterMap& meter) {
    PracticeSummary s;
    const uint32_t a = std::min(run.startSongMs, run.endSongMs);
    const uint32_t b = std::max(run.startSongMs, run.endSongMs);
    s.firstBar = meter.AtMs(a).bar;
    s.lastBar = meter.AtMs(b).bar;
    std::vector<int32_t> timing;
    if (run.mode == PlayMode::Accompaniment) {
        s.scored = true;
        s.notes = static_cast<uint32_t>(run.notes.size());
        for (const PracticeRun::NoteScore& n : run.notes) {
            if (n.hit) {
                ++s.hit;
                timing.push_back(n.errorMs);
            }
        }
        s.missed = s.notes - s.hit;
        s.extra = run.extra;
        const uint32_t all = s.notes + s.extra;
        s.accuracy = all ? static_cast<double>(s.hit) / all : 0.0;
    } else if (run.mode == PlayMode::MyPaceLesson) {
        s.scored = true;
        s.chords = static_cast<uint32_t>(run.chords.size());
        uint32_t clean = 0;
        for (const PracticeRun::ChordWait& c : run.chords) {
            s.wrong += c.wrong;
            clean += c.wrong == 0 ? 1 : 0;
            timing.push_back(static_cast<int32_t>(c.waitMs));
        }
        s.waitP50 = static_cast<uint32_t>(Quantile(timing, 50));
        s.accuracy = s.chords ? static_cast<double>(clean) / s.chords : 0.0;
    }
    s.timingP50 = Quantile(timing, 50);
    s.timingSpread = Quantile(timing, 75) - Quantile(timing, 25);
    return s;
}

bool AnythingPlayed(const PracticeRun& run) {
    switch (run.mode) {
        case PlayMode::MyPaceLesson:
            // A chord counts once it was played; wrong keys are kept with the chord awaited.
            return !run.chords.empty();
        case PlayMode::Accompaniment:
            return run.extra > 0 ||
                   std::any_of(run.notes.begin(), run.notes.end(),
                               [](const PracticeRun::NoteScore& n) { return n.hit; });
        default:
            return run.endSongMs != run.startSongMs;
    }
}

std::vector<uint32_t> HardestBars(const PracticeRun& run, const smf::MeterMap& meter,
                                  size_t count) {
    const bool faultless =
        run.mode == PlayMode::MyPaceLesson
            ? std::all_of(run.chords.begin(), run.chords.end(),
                          [](const PracticeRun::ChordWait& c) { return c.wrong == 0; })
            : std::all_of(run.notes.begin(), run.notes.end(),
                          [](const PracticeRun::NoteScore& n) { return n.hit; });
    if (faultless) {
        return {};
    }
    // Weight of each bar; ties go to the earlier bar, which is met first when practising.
    std::map<uint32_t, uint64_t> weight;
    if (run.mode == PlayMode::MyPaceLesson) {
        for (const PracticeRun::ChordWait& c : run.chords) {
            // A wrong key costs as much as a second of waiting.
            const uint64_t w = uint64_t{c.waitMs} + uint64_t{c.wrong} * 1000;
            if (w > 0) {
                weight[meter.AtMs(c.songMs).bar] += w;
            }
        }
    } else if (run.mode == PlayMode::Accompaniment) {
        for (const PracticeRun::NoteScore& n : run.notes) {
            if (!n.hit) {
                weight[meter.AtMs(n.songMs).bar] += 1;
            }
        }
    }
    std::vector<std::pair<uint32_t, uint64_t>> bars(weight.begin(), weight.end());
    std::stable_sort(bars.begin(), bars.end(),
                     [](const auto& x, const auto& y) { return x.second > y.second; });
    std::vector<uint32_t> out;
    for (size_t i = 0; i < bars.size() && i < count; ++i) {
        out.push_back(bars[i].first);
    }
    return out;
}

LoopSpan LoopAroundBar(const smf::MeterMap& meter, uint32_t bar) {
    const uint32_t first = bar > 1 ? bar - 1 : 1;
    const uint32_t last = std::min(bar + 1, std::max(meter.BarCount(), bar));
    return LoopSpan{meter.BarStartMs(first), meter.BarStartMs(last + 1)};
}
