#include "engine/passage.h"

#include <limits>

#include "engine/performance.h"

namespace {
constexpr uint32_t kNoLimit = std::numeric_limits<uint32_t>::max();
}

void Passage::Attach(Performance* performance) {
    m_performance = performance;
    m_seek = performance ? std::make_unique<PerformanceSeek>(*performance) : nullptr;
    ApplyLimit();
}

void Passage::SetLoop(std::optional<LoopSpan> loop, int passes) {
    // A passage shorter than two milliseconds would jump back at every tick.
    if (loop && loop->b <= loop->a + 1) {
        loop.reset();
    }
    m_loop = loop;
    m_passes = passes;
    m_passesPlayed = 0;
    ApplyLimit();
}

// Song time stops just short of B, so that nothing at B or after it is sent before the jump
// back; a place already past B plays on to the end.
void Passage::ApplyLimit() {
    if (!m_performance) {
        return;
    }
    const bool before = m_loop && m_performance->SongTime() < m_loop->b;
    m_performance->SetSongTimeLimit(before ? m_loop->b - 1 : kNoLimit);
}

void Passage::OnStart() {
    m_passesPlayed = 0;
    const uint32_t start = Start();
    if (m_seek && start != 0) {
        m_seek->JumpTo(start);
    }
    ApplyLimit();
    Publish(start);
}

void Passage::JumpTo(uint32_t songMs, uint32_t elapsedMs) {
    if (!m_seek) {
        return;
    }
    m_performance->CatchUpElapsed(elapsedMs);
    m_jumped = true;
    m_seek->JumpTo(songMs);
    ApplyLimit();
    Publish(songMs);
}

bool Passage::AfterAdvance() {
    Performance* p = m_performance;
    if (!p) {
        return false;
    }
    const bool looping = p->GetPlayer().SongTimeLimit() != kNoLimit;
    if (!looping) {
        return p->AtEnd();
    }
    if (p->SongTime() < p->GetPlayer().SongTimeLimit()) {
        return false;  // also past the song's last event: a B beyond the end is waited for
    }
    ++m_passesPlayed;
    if (m_passes > 0 && m_passesPlayed >= m_passes) {
        // Notes held across B would sound on after the stop.
        m_seek->StopNotes();
        return true;
    }
    m_seek->JumpTo(m_loop->a);
    ApplyLimit();
    return false;
}
