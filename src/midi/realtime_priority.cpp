#include "midi/realtime_priority.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex g_lock;
int g_priority = -1;  // not yet decided
std::vector<pthread_t> g_threads;

int PriorityLocked() {
    if (g_priority < 0) {
        // Low enough that audio servers and synthesizers keep the higher ones.
        g_priority = sched_get_priority_min(SCHED_FIFO) + 9;
    }
    return g_priority;
}

void Apply(pthread_t thread, int priority) {
    sched_param param{};
    param.sched_priority = priority;
    if (priority <= 0 || pthread_setschedparam(thread, SCHED_FIFO, &param) != 0) {
        param.sched_priority = 0;
        pthread_setschedparam(thread, SCHED_OTHER, &param);
    }
}

// Takes the thread off the list when it ends, so that a later change never touches a thread
// that is gone.
struct Registration {
    bool listed = false;
    ~Registration() {
        if (listed) {
            std::lock_guard<std::mutex> guard(g_lock);
            const pthread_t self = pthread_self();
            g_threads.erase(std::find_if(g_threads.begin(), g_threads.end(),
                                         [self](pthread_t t) { return pthread_equal(t, self); }));
        }
    }
};

thread_local Registration t_registration;

}  // namespace

void RunAtProgramRealTimePriority() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!t_registration.listed) {
        t_registration.listed = true;
        g_threads.push_back(pthread_self());
    }
    Apply(pthread_self(), PriorityLocked());
}

void KeepBelowJackClients(int jackClientPriority) {
    std::lock_guard<std::mutex> guard(g_lock);
    const int below =
        jackClientPriority - 1 >= sched_get_priority_min(SCHED_FIFO) ? jackClientPriority - 1 : 0;
    if (below >= PriorityLocked()) {
        return;
    }
    g_priority = below;
    for (pthread_t thread : g_threads) {
        Apply(thread, below);
    }
}

int ProgramRealTimePriority() {
    std::lock_guard<std::mutex> guard(g_lock);
    return PriorityLocked();
}
