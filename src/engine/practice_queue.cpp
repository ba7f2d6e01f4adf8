#include "engine/practice_queue.h"

PracticeQueue::PracticeQueue() {
    m_events.reserve(kReserve);
}

void PracticeQueue::Push(const PracticeEvent& event) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(event);
}

std::vector<PracticeEvent> PracticeQueue::Take() {
    std::vector<PracticeEvent> fresh;
    fresh.reserve(kReserve);
    std::lock_guard<std::mutex> lock(m_lock);
    fresh.swap(m_events);
    return fresh;
}
