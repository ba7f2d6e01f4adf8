#pragma once

#include "engine/window_core.h"

// The core's current performance, looked up under the play lock, for a test that drives the
// ticks itself or has stopped them: nothing changes what it points to while the test reads it.
// A test that reads it while the clock thread runs holds PlayLock() and calls
// CurrentPerformance() instead.
inline Performance* PerformanceOf(CPelorvaneCore& core) {
    CheckedLock lock(core.Session().PlayLock());
    return core.Session().CurrentPerformance();
}

// The output device the core opened, none when it could not.
inline std::shared_ptr<MidiOut> OutputOf(CPelorvaneCore& core) {
    CheckedLock lock(core.Session().PlayLock());
    return core.Session().OutputDevice();
}
