/* Preloaded into a launcher by the channel tests: each shmdt detaches as
   usual and then keeps the process alive for 300 ms, so that a receive loop
   still running at exit would touch the detached instance segment within
   that time instead of racing the end of the process. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/shm.h>
#include <unistd.h>

int shmdt(const void* address) {
    int (*real)(const void*) = (int (*)(const void*))dlsym(RTLD_NEXT, "shmdt");
    int result = real ? real(address) : -1;
    usleep(300000);
    return result;
}
