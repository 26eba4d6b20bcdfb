// Native methods of com.brindell.tvx.ServiceStatusManager. They run in the
// copy of the launcher that the helper class loads as its native library, so
// they take the launcher's objects from the process block, never from this
// copy's own globals.
#include <jni.h>
#include <stdint.h>

#include "base/export.h"
#include "instances/shm.h"
#include "launch/first_copy.h"
#include "service/service_notify.h"

namespace {

// Cached global references to the arrays handed to Java.
jobject jcmd_argv = nullptr;
jobject jprm_argv = nullptr;

// Returns the array cached in `cache`, building it on first use from the
// argument list through the first copy's launcher. Null when no launcher is
// published in the process block.
jobjectArray CachedArguments(JNIEnv* env, jobject& cache, int argc, char** argv) {
    jobject cached = __atomic_load_n(&cache, __ATOMIC_ACQUIRE);
    if (cached) return static_cast<jobjectArray>(cached);
    CJvmLauncher* launcher = FirstCopyLauncher();
    if (!launcher) return nullptr;

    // Built with the caller's environment: the caller need not be the
    // thread that created the virtual machine.
    jobjectArray local = launcher->ArgumentToArray(argc, argv, 0, nullptr, 0, nullptr, env);
    if (!local) return nullptr;
    jobject global = env->NewGlobalRef(local);
    env->DeleteLocalRef(local);
    if (!global) return nullptr;
    // Two threads may race on the first call: the first one stored wins, so
    // every call returns the same array object.
    jobject expected = nullptr;
    if (!__atomic_compare_exchange_n(&cache, &expected, global, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        env->DeleteGlobalRef(global);
        global = expected;
    }
    return static_cast<jobjectArray>(global);
}

}  // namespace

// Under systemd the statuses keep their meaning: running is readiness,
// start pending extends the start timeout. Elsewhere nothing happens.
TVX_EXPORT void JNICALL Java_com_brindell_tvx_ServiceStatusManager_nativeSetServiceStatus(JNIEnv*, jclass,
                                                                                         jint status) {
    NotifyApplicationStatus(status);
}

TVX_EXPORT void JNICALL Java_com_brindell_tvx_ServiceStatusManager_nativeSetServiceStatusHandler(JNIEnv* env, jclass,
                                                                                                jobject handler) {
    jobject previous = static_cast<jobject>(shm.GetSlot(kSlotServiceHandler));
    shm.SetSlot(kSlotServiceHandler, nullptr);
    if (previous) env->DeleteGlobalRef(previous);
    if (handler) shm.SetSlot(kSlotServiceHandler, env->NewGlobalRef(handler));
}

TVX_EXPORT jobjectArray JNICALL Java_com_brindell_tvx_ServiceStatusManager_getCommandLineArguments(JNIEnv* env,
                                                                                                  jclass) {
    int argc = static_cast<int>(reinterpret_cast<intptr_t>(shm.GetSlot(kSlotServiceArgc)));
    char** argv = static_cast<char**>(shm.GetSlot(kSlotServiceArgv));
    return CachedArguments(env, jcmd_argv, argc, argv);
}

TVX_EXPORT jobjectArray JNICALL Java_com_brindell_tvx_ServiceStatusManager_getStartupParameters(JNIEnv* env, jclass) {
    return CachedArguments(env, jprm_argv, 0, nullptr);
}
