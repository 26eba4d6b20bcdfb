// The service's messages to systemd: status text, readiness, stop and the
// watchdog that pings only while the virtual machine answers.
#include "service/service_notify.h"

#include <stdio.h>

#include "service/service.h"
#include "service/systemd_notify.h"
#include "settings/settings_loader.h"

namespace {

// The watchdog's probe: a call into the virtual machine from the pinging
// thread (attached once, as a daemon thread). It completes only when the
// runtime lets a thread run Java code: not while it is stopped, deadlocked
// or held at a safepoint that never ends.
struct VmProbe {
    JavaVM* vm;
    JNIEnv* env;
    jclass system;
    jmethodID nanoTime;
};

VmProbe vmProbe;

bool VmAnswers(void* context) {
    VmProbe& probe = *static_cast<VmProbe*>(context);
    if (!probe.env) {
        JavaVMAttachArgs attach = {JNI_VERSION_1_2, const_cast<char*>("Service watchdog"), nullptr};
        if (probe.vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&probe.env), &attach) != JNI_OK) {
            probe.env = nullptr;
            return false;
        }
        jclass local = probe.env->FindClass("java/lang/System");
        probe.system = local ? static_cast<jclass>(probe.env->NewGlobalRef(local)) : nullptr;
        if (local) probe.env->DeleteLocalRef(local);
        probe.nanoTime = probe.system ? probe.env->GetStaticMethodID(probe.system, "nanoTime", "()J") : nullptr;
    }
    if (!probe.nanoTime) {
        probe.env->ExceptionClear();
        return false;
    }
    probe.env->CallStaticLongMethod(probe.system, probe.nanoTime);
    if (probe.env->ExceptionCheck()) {
        probe.env->ExceptionClear();
        return false;
    }
    return true;
}

void SendStatus(const char* prefix, const char* state) {
    char message[256];
    snprintf(message, sizeof message, "%sSTATUS=%s", prefix, state);
    SystemdNotify(message);
}

}  // namespace

bool ApplicationReportsReadiness() {
    CSettingsLoader* loader = pldr;
    return loader && loader->GetCommon("serviceready").CompareNoCase("application") == 0;
}

void NotifyServiceStarting() {
    if (!SystemdNotifies()) return;
    SendStatus("", "Starting: looking for the Java runtime");
}

void NotifyMainPid(int child) {
    if (!SystemdNotifies()) return;
    char message[64];
    snprintf(message, sizeof message, "MAINPID=%d", child);
    SystemdNotify(message);
}

void NotifyMainReached(JavaVM* vm) {
    if (!SystemdNotifies()) return;
    if (ApplicationReportsReadiness())
        SendStatus("", "Starting: the application is starting up");
    else
        SendStatus("READY=1\n", "Running");
    uint64_t interval = WatchdogIntervalUsec();
    if (vm && interval) {
        vmProbe.vm = vm;
        StartWatchdog(VmAnswers, &vmProbe, interval);
    }
}

void NotifyStopping() {
    if (!SystemdNotifies()) return;
    SendStatus("STOPPING=1\n", "Stopping: the application's onStop is running");
}

void NotifyApplicationStatus(int status) {
    if (!SystemdNotifies()) return;
    if (status == kJavaStatusRunning) {
        SendStatus("READY=1\n", "Running");
    } else if (status == kJavaStatusStartPending) {
        char prefix[64];
        snprintf(prefix, sizeof prefix, "EXTEND_TIMEOUT_USEC=%llu\n",
                 static_cast<unsigned long long>(kStartExtensionSeconds) * 1000000ULL);
        SendStatus(prefix, "Starting: the application is starting up");
    } else if (status == kJavaStatusPaused) {
        SendStatus("", "Paused");
    }
}

void NotifyStopExtension(unsigned seconds) {
    if (!SystemdNotifies()) return;
    char message[64];
    snprintf(message, sizeof message, "EXTEND_TIMEOUT_USEC=%llu",
             static_cast<unsigned long long>(seconds) * 1000000ULL);
    SystemdNotify(message);
}

void NotifyServiceEnded() { StopWatchdog(); }
