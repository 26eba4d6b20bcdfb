/* A runtime library for the service tests that holds the creation of the
   virtual machine at a gate: JNI_CreateJavaVM creates the file
   "$TVX_GATE.waiting", waits until the file $TVX_GATE exists, then hands the
   call to the real runtime library named by $TVX_REAL_JVM. A test can so
   deliver a signal while the start is known to be before the virtual
   machine exists. */
#include <dlfcn.h>
#include <fcntl.h>
#include <jni.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

typedef jint(JNICALL* CreateFn)(JavaVM**, void**, void*);

__attribute__((visibility("default"))) jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
    const char* gate = getenv("TVX_GATE");
    const char* real = getenv("TVX_REAL_JVM");
    if (!gate || !real) return JNI_ERR;
    char waiting[4096];
    snprintf(waiting, sizeof waiting, "%s.waiting", gate);
    int fd = open(waiting, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    /* Bounded: a test that never opens the gate must not hang for ever. */
    for (int i = 0; i < 6000 && access(gate, F_OK) != 0; ++i) usleep(20000);
    void* library = dlopen(real, RTLD_NOW | RTLD_GLOBAL);
    CreateFn create = library ? (CreateFn)dlsym(library, "JNI_CreateJavaVM") : NULL;
    return create ? create(vm, env, args) : JNI_ERR;
}
