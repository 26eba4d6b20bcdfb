// Threads nobody joins: the launcher's helpers that live as long as the
// process (log keeper, stop bound, watchdog).
#ifndef TVX_BASE_DETACHED_THREAD_H
#define TVX_BASE_DETACHED_THREAD_H

#include <pthread.h>

// Starts `body(argument)` on a detached thread; false when it could not start.
inline bool StartDetachedThread(void* (*body)(void*), void* argument = nullptr) {
    pthread_t thread;
    pthread_attr_t detached;
    if (pthread_attr_init(&detached) != 0) return false;
    pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED);
    bool started = pthread_create(&thread, &detached, body, argument) == 0;
    pthread_attr_destroy(&detached);
    return started;
}

#endif  // TVX_BASE_DETACHED_THREAD_H
