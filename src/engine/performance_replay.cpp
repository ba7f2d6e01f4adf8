// A take replayed in place of the parts it was played for.

#include <algorithm>

#include "engine/performance.h"

namespace {
constexpr uint8_t kSustain = 64;
}  // namespace

void Performance::SetReplay(std::shared_ptr<const Take> take, PracticeChoice parts) {
    int channel = 0;
    while (channel < 15 && !parts.HasChannel(channel)) {
        ++channel;
    }
    if (!parts.HasChannel(channel)) {
        channel = 0;
    }
    m_replay = std::make_unique<TakeReplay>(std::move(take), static_cast<uint8_t>(channel));
    SetPracticeChoice(parts);
    // The take sounds on the practised channels: they keep their volume and lose their notes.
    for (int ch = 0; ch < 16; ++ch) {
        if (parts.HasChannel(ch)) {
            m_player.SetSilenceByNotes(ch, true);
        }
    }
    m_replay->MoveTo(m_player.SongTime());
}

void Performance::ReleaseReplay() {
    if (m_replay) {
        m_replay->Release([this](const TakeReplay::Message& m) { SendReplayed(m); });
    }
}

void Performance::SendReplayed(const TakeReplay::Message& m) {
    PerformanceEvent e;
    e.status = static_cast<uint8_t>(m.status & 0xF0);
    e.channel = static_cast<uint8_t>(m.status & 0x0F);
    e.data1 = m.data1;
    e.data2 = m.data2;
    SendEvent(e);
}

bool Performance::ReplacedByTake(const PerformanceEvent& e) const {
    // The part's note-offs would cut the take's keys short: its note-ons never went out.
    if (e.IsNoteOff()) {
        return m_player.SilencedByNotes(e.channel);
    }
    return e.status == 0xB0 && e.data1 == kSustain && e.channel == m_replay->Channel();
}

void Performance::StepReplay(uint32_t step, bool held, uint32_t& newTime) {
    if (held) {
        m_replay->Spend(step, m_player.SpeedPercent());
        return;
    }
    const uint32_t stop = m_replay->StopAt();
    if (newTime > stop) {
        // The song stands where the learner kept it waiting; the clock from here is the wait's.
        newTime = std::max(stop, m_player.SongTime());
        m_player.JumpTo(m_player.Cursor(), newTime);
    }
}
