#include "engine/clock_thread_priority.h"

#include <sys/prctl.h>

#include "midi/realtime_priority.h"

void RaiseClockThreadPriority() {
    RunAtProgramRealTimePriority();
    // Wake from each millisecond's sleep as close to its end as the timer allows.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}
