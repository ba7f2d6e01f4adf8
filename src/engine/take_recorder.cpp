#include "engine/take_recorder.h"

#include <algorithm>
#include <array>

namespace {

// Clock readings wrap; a difference taken as signed orders two close readings.
int32_t Diff(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b);
}

constexpr uint8_t kPedalHeld = 64;

// The clock and the song time of one action are read a moment apart and rounded: a difference
// this small between them is no wait.
constexpr uint32_t kWaitSlackMs = 5;

// In song time order, every note on with its note off. The stream is in the order pushed, and
// a device's stamps or a jump back in the song can put things out of song time order.
Take Tidy(Take raw, uint32_t endSongMs) {
    std::stable_sort(raw.begin(), raw.end(),
                     [](const TakeEvent& a, const TakeEvent& b) { return a.songMs < b.songMs; });
    Take take;
    take.reserve(raw.size());
    std::array<bool, 128> held{};
    bool pedal = false;
    uint32_t last = 0;
    uint32_t waited = 0;
    for (TakeEvent e : raw) {
        last = e.songMs;
        // A device's stamps may put a press made during a wait after one made after it.
        waited = std::max(waited, e.waitedMs);
        e.waitedMs = waited;
        switch (e.kind) {
            case TakeEvent::NoteOn:
                if (held[e.key]) {
                    take.push_back({e.songMs, TakeEvent::NoteOff, e.key, 0, waited});
                }
                held[e.key] = true;
                take.push_back(e);
                break;
            case TakeEvent::NoteOff:
                if (held[e.key]) {
                    held[e.key] = false;
                    take.push_back(e);
                }
                break;
            case TakeEvent::Pedal:
                pedal = e.value >= kPedalHeld;
                take.push_back(e);
                break;
        }
    }
    const uint32_t endMs = std::max(endSongMs, last);
    for (int key = 0; key < 128; ++key) {
        if (held[static_cast<size_t>(key)]) {
            take.push_back({endMs, TakeEvent::NoteOff, static_cast<uint8_t>(key), 0, waited});
        }
    }
    if (pedal) {
        take.push_back({endMs, TakeEvent::Pedal, 0, 0, waited});
    }
    return take;
}

}  // namespace

void TakeRecorder::Feed(const std::vector<PlayerAction>& actions) {
    m_actions.insert(m_actions.end(), actions.begin(), actions.end());
}

Take TakeRecorder::TakeOf(const PracticeRun& run) const {
    Take raw;
    uint8_t pedal = m_pedalBefore;
    // The learner's own pace: the clock goes on while the song stands (a lesson waiting for a
    // chord), and what it went on beyond the song, at the run's speed, is how long it waited.
    const auto speed = static_cast<uint64_t>(std::max(run.speedPercent, 1));
    uint32_t waited = 0;
    for (const PlayerAction& a : m_actions) {
        const int32_t at = Diff(a.clockMs, run.startClockMs);
        if (at < 0) {
            if (a.kind == PlayerAction::Pedal) {
                pedal = a.value;
            }
            continue;
        }
        if (at >= static_cast<int32_t>(run.durationMs)) {
            continue;  // the next run's
        }
        const int64_t paced = static_cast<int64_t>(static_cast<uint64_t>(at) * speed / 100) -
                              Diff(a.songMs, run.startSongMs);
        if (paced > static_cast<int64_t>(waited) + kWaitSlackMs) {
            waited = static_cast<uint32_t>(paced);
        }
        switch (a.kind) {
            case PlayerAction::KeyDown:
                raw.push_back({a.songMs, TakeEvent::NoteOn, a.key,
                               std::max<uint8_t>(a.value, uint8_t{1}), waited});
                break;
            case PlayerAction::KeyUp:
                raw.push_back({a.songMs, TakeEvent::NoteOff, a.key, 0, waited});
                break;
            case PlayerAction::Pedal:
                raw.push_back({a.songMs, TakeEvent::Pedal, 0, a.value, waited});
                break;
        }
    }
    if (raw.empty()) {
        return {};
    }
    if (pedal >= kPedalHeld) {
        raw.insert(raw.begin(), {run.startSongMs, TakeEvent::Pedal, 0, pedal});
    }
    return Tidy(std::move(raw), run.endSongMs);
}

void TakeRecorder::ForgetBefore(uint32_t clockMs) {
    const auto keep = std::find_if(m_actions.begin(), m_actions.end(), [clockMs](const auto& a) {
        return Diff(a.clockMs, clockMs) >= 0;
    });
    for (auto it = m_actions.begin(); it != keep; ++it) {
        if (it->kind == PlayerAction::Pedal) {
            m_pedalBefore = it->value;
        }
    }
    m_actions.erase(m_actions.begin(), keep);
}
