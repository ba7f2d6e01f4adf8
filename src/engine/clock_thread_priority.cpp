#include "engine/clock_thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

void RaiseClockThreadPriority() {
    // A low real-time priority is enough to come before every ordinary thread; audio servers
    // and synthesizers keep the higher ones.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0) {
        param.sched_priority = 0;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
    }
    // Wake from each millisecond's sleep as close to its end as the timer allows.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}
