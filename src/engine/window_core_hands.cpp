// The hand the learner practises, and where a one-track channel divides into hands.

#include "engine/performance.h"
#include "engine/window_core.h"

bool CPelorvaneCore::SetHands(Hand hand, int splitKey) {
    if (splitKey < 0 || splitKey > 127) {
        return false;
    }
    m_splitKey.store(splitKey, std::memory_order_relaxed);
    CheckedLock lock(m_playLock);
    m_practiceHand = hand;
    if (!m_pPerformance) {
        return true;
    }
    PracticeChoice choice = m_pPerformance->GetPlayer().Choice();
    choice.hand = hand;
    m_pPerformance->SetPracticeChoice(choice);
    if (m_playState != Stopped) {
        m_pPerformance->RestartChordSearch();
    }
    WakeClockThread();
    return true;
}

Hand CPelorvaneCore::PracticeHand() const {
    CheckedLock lock(m_playLock);
    return m_practiceHand;
}
