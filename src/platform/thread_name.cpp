#include "platform/thread_name.h"

#include <pthread.h>

#include <cstring>

void NameThisThread(const char* name) {
    char shown[16] = {};
    std::strncpy(shown, name, sizeof shown - 1);
    // A name is only a help for whoever looks: a refusal changes nothing.
    (void)pthread_setname_np(pthread_self(), shown);
}
