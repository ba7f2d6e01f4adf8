#pragma once

#include <chrono>
#include <future>

#include "midi/memory_midi.h"

// Runs the work on a thread of its own; false when it did not return within ten seconds while the
// service's devices stayed blocked (they are then let go, so that the thread can end).
template <typename Work>
bool ReturnsWhileBlocked(InMemoryMidiService& service, Work work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
        return true;
    }
    service.BlockSends(false);
    done.wait();
    return false;
}
