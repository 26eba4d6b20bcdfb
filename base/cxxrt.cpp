// The few C++ runtime hooks the compiler emits calls to, so that the
// launcher links against libc only (no libstdc++). Linked into the launcher
// executable, not into test programs, which use the real runtime.
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

#include <new>

#include "base/diagnostic.h"

void* operator new(size_t size) {
    void* p = malloc(size ? size : 1);
    if (!p) {
        SayLine("ERROR: out of memory");
        abort();
    }
    return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

#if defined(__arm__)
// On 32-bit ARM the compiler registers the destructors of static objects
// through __aeabi_atexit, which takes the object first; libstdc++ would
// otherwise be pulled in for this one call.
extern "C" int __cxa_atexit(void (*destroyer)(void*), void* object, void* dso);
extern "C" int __aeabi_atexit(void* object, void (*destroyer)(void*), void* dso) {
    return __cxa_atexit(destroyer, object, dso);
}
#endif

namespace {
pthread_mutex_t g_guardMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
}

// Guarded initialisation of function-local statics. The first byte of the
// guard is non-zero once the object is constructed.
extern "C" int __cxa_guard_acquire(long long* guard) {
    if (__atomic_load_n(reinterpret_cast<char*>(guard), __ATOMIC_ACQUIRE)) return 0;
    pthread_mutex_lock(&g_guardMutex);
    if (*reinterpret_cast<char*>(guard)) {
        pthread_mutex_unlock(&g_guardMutex);
        return 0;
    }
    return 1;
}
extern "C" void __cxa_guard_release(long long* guard) {
    __atomic_store_n(reinterpret_cast<char*>(guard), 1, __ATOMIC_RELEASE);
    pthread_mutex_unlock(&g_guardMutex);
}
extern "C" void __cxa_guard_abort(long long*) { pthread_mutex_unlock(&g_guardMutex); }

extern "C" void __cxa_pure_virtual() {
    SayLine("ERROR: pure virtual method called");
    abort();
}
