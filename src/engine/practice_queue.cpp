#include "engine/practice_queue.h"

PracticeQueue::PracticeQueue() {
    m_events.reserve(kReserve);
}

void PracticeQueue::Push(const PracticeEvent& event) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // Nobody has collected for a long while (pelorvane-play without --record never does):
        // dropping what happened is better than allocating on the clock or input thread.
        if (m_events.size() >= kReserve) {
            ++m_dropped;
            return;
        }
        m_events.push_back(event);
    }
    if (event.kind == PracticeEvent::RunEnd || event.kind == PracticeEvent::LoopPass) {
        m_runEnded.Published();
    }
}

std::vector<PracticeEvent> PracticeQueue::Take() {
    std::vector<PracticeEvent> fresh;
    fresh.reserve(kReserve);
    std::lock_guard<std::mutex> lock(m_lock);
    fresh.swap(m_events);
    return fresh;
}

bool PracticeQueue::Empty() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events.empty();
}

uint64_t PracticeQueue::Dropped() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dropped;
}
