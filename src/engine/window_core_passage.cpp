// Commands of the position bar and the A-B loop: a jump while playing, the start while stopped.

#include "engine/performance.h"
#include "engine/window_core.h"
#include "platform/clock.h"

void CPelorvaneCore::SeekTo(uint32_t songMs) {
    std::lock_guard<std::recursive_mutex> lock(m_playLock);
    if (m_playState == Stopped || !m_pPerformance) {
        m_passage.SetStart(songMs);
        return;
    }
    // Starting: the first tick sets the start time and counts from there anyway.
    m_passage.JumpTo(songMs, m_playState == Playing ? NowMs() - m_playStartTime : 0);
    WakeClockThread();
}

void CPelorvaneCore::SetLoop(std::optional<LoopSpan> loop, int passes) {
    std::lock_guard<std::recursive_mutex> lock(m_playLock);
    m_passage.SetLoop(loop, passes);
    WakeClockThread();
}

std::optional<LoopSpan> CPelorvaneCore::Loop() {
    std::lock_guard<std::recursive_mutex> lock(m_playLock);
    return m_passage.Loop();
}

uint32_t CPelorvaneCore::ShownSongTime() const {
    return m_playState.load() == Stopped ? m_passage.Start() : m_passage.SongTime();
}
