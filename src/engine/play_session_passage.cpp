// Commands of the position bar and the A-B loop: a jump while playing, the start while stopped.

#include <algorithm>

#include "engine/performance.h"
#include "engine/play_session.h"
#include "platform/clock.h"

void PlaySession::SeekTo(uint32_t songMs) {
    CheckedLock lock(m_playLock);
    SeekToLocked(songMs);
}

void PlaySession::SeekToLocked(uint32_t songMs) {
    if (m_playState == Stopped || !m_pPerformance) {
        m_passage.SetStart(songMs);
        return;
    }
    // Starting: the first tick sets the start time and counts from there anyway.
    m_passage.JumpTo(songMs, m_playState == Playing ? NowMs() - m_playStartTime : 0);
    PublishSongClock(NowMs());
    WakeClockThread();
}

void PlaySession::SetLoop(std::optional<LoopSpan> loop, int passes) {
    CheckedLock lock(m_playLock);
    m_passage.SetLoop(loop, passes);
    // A loop set away from the place would never be reached, or only after the song before it:
    // the place goes to A, and a song playing jumps there.
    if (const std::optional<LoopSpan> set = m_passage.Loop()) {
        const uint32_t place = ShownSongTime();
        if (place < set->a || place >= set->b) {
            SeekToLocked(set->a);
        }
    }
    PublishSongClock(NowMs());
    WakeClockThread();
}

std::optional<LoopSpan> PlaySession::Loop() {
    CheckedLock lock(m_playLock);
    return m_passage.Loop();
}

uint32_t PlaySession::ShownSongTime() const {
    return m_playState.load() == Stopped ? m_passage.Start() : m_passage.SongTime();
}

void PlaySession::PublishSongClock(uint32_t nowMs) {
    const Performance* p = m_pPerformance.get();
    SongClock::Reading r;
    r.clockMs = nowMs;
    r.songMs = ShownSongTime();
    // Starting counts as standing at the start until the first tick, and a pass counting in
    // as standing at A.
    r.playing = p && m_playState.load() == Playing && !m_countIn.Active();
    if (m_countIn.Active() && m_countIn.ClicksSounded() > 0) {
        r.countInBeat = static_cast<uint16_t>(m_countIn.ClicksSounded());
        r.countInBeats = static_cast<uint16_t>(m_countIn.ClickCount());
        r.countInAccent = m_countIn.LastClickAccented();
        r.countInClickMs = m_countIn.LastClickMs();
    }
    if (p) {
        r.speedPercent = static_cast<uint16_t>(p->GetPlayer().SpeedPercent());
        r.waiting = p->Waiting();
        r.holdMs = p->GetPlayer().SongTimeLimit();
        // The lesson stops the song at the next chord until its keys are held.
        const Lesson& lesson = p->GetLesson();
        if (lesson.WaitForPlayer() && lesson.PendingChord().count > 0) {
            r.holdMs = std::min(r.holdMs, p->GetTimeline()[lesson.PendingChord().index[0]].time);
        }
    }
    m_songClock.Publish(r);
}
