// Stop handling of the service run. SIGINT is a stop request like SIGTERM
// (unless it was ignored when the service started, as for a background
// job). Calling into the Java virtual machine is not allowed in a signal
// handler, so the handler only writes the signal's record into a pipe; a
// dedicated thread reads it and performs the stop steps: the application's
// onStop, pid file and lock released, then the disposition that was in force
// before (the virtual machine's, which shuts the runtime down and ends the
// process with status 128 + the signal: 143 for SIGTERM).
//
// Before the virtual machine exists a stop request is only recorded; the
// start then ends at the next check (before the runtime is looked for, or
// once the virtual machine exists, before main) with its files removed.
#include <errno.h>
#include <fcntl.h>
#include <jni.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "base/detached_thread.h"
#include "base/diagnostic.h"
#include "instances/shm.h"
#include "launch/jvm_launcher.h"
#include "service/service.h"
#include "service/service_logs.h"
#include "service/service_notify.h"
#include "service/systemd_dropin.h"
#include "settings/settings_loader.h"

void (*fnPrevServiceTerm)(int) = SIG_DFL;

namespace {

struct sigaction prevTermAction;  // the full previous dispositions (flags included)
struct sigaction prevIntAction;
bool intIgnored;                    // SIGINT was ignored when the service started
volatile sig_atomic_t pendingStop;  // a stop signal that came before the virtual machine
JavaVM* serviceVm;                // captured while the launcher is alive
int stopPipe[2] = {-1, -1};
pthread_t stopThread;
bool stopThreadRunning;

// Dispositions -1 to 4 are special values (error, default, ignore, ...), not functions.
bool IsHandlerFunction(void (*fn)(int)) {
    intptr_t v = reinterpret_cast<intptr_t>(fn);
    return v < -1 || v > 4;
}

void CallPreviousHandler(int sig, siginfo_t* info) {
    const struct sigaction& prev = sig == SIGINT ? prevIntAction : prevTermAction;
    if (!IsHandlerFunction(prev.sa_handler)) return;
    if (prev.sa_flags & SA_SIGINFO)
        prev.sa_sigaction(sig, info, nullptr);
    else
        prev.sa_handler(sig);
}

// Calls onStop "()Z" of the handler registered in process-block slot 10.
void CallStopHandler(JNIEnv* env) {
    jobject handler = static_cast<jobject>(shm.GetSlot(kSlotServiceHandler));
    if (!handler) return;
    jclass cls = env->GetObjectClass(handler);
    if (cls) {
        jmethodID onStop = env->GetMethodID(cls, "onStop", "()Z");
        if (onStop) env->CallBooleanMethod(handler, onStop);
        env->DeleteLocalRef(cls);
    }
    CJvmLauncher::CheckException(env, true);
}

// The stop bound (stoptimeout): a stop that has not ended the process in
// time ends it, with one line saying what hung.
enum StopPhase { kStopIdle, kStopInOnStop, kStopShutdown };
volatile sig_atomic_t stopPhase = kStopIdle;
unsigned stopBoundSeconds;
bool stopBoundArmed;

void* StopBoundMain(void*) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    // Under systemd the stop is given a little more than the bound, a second
    // at a time while it runs, so that this thread, not systemd's SIGKILL,
    // ends a stop that hangs and says why.
    for (unsigned left = stopBoundSeconds; left > 0; --left) {
        NotifyStopExtension(left + 5);
        sleep(1);
    }
    const char* what = stopPhase == kStopInOnStop ? "the application's onStop did not return"
                                                   : "the Java runtime's shutdown did not end";
    SayError("%s: the stop did not end within %u seconds (stoptimeout): %s; the process is ended.", prog,
             stopBoundSeconds, what);
    ReleaseServiceFiles();
    _exit(1);
    return nullptr;
}

void ArmStopBound() {
    if (stopBoundArmed) return;
    CSettingsLoader* loader = pldr;
    long seconds = loader ? ParseSeconds(loader->GetCommon("stoptimeout")) : 0;
    if (seconds <= 0) return;
    stopBoundSeconds = static_cast<unsigned>(seconds);
    stopBoundArmed = StartDetachedThread(StopBoundMain);
}

void RunStopSteps(int sig, siginfo_t* info) {
    JNIEnv* env = nullptr;
    JavaVMAttachArgs attach = {JNI_VERSION_1_2, const_cast<char*>("Service stop"), nullptr};
    bool attached =
        serviceVm && serviceVm->AttachCurrentThread(reinterpret_cast<void**>(&env), &attach) == JNI_OK && env;
    NotifyStopping();
    ArmStopBound();
    stopPhase = kStopInOnStop;
    if (attached) CallStopHandler(env);
    stopPhase = kStopShutdown;
    ReleaseServiceFiles();
    if (attached) serviceVm->DetachCurrentThread();
    CallPreviousHandler(sig, info);
}

// The only code that runs in signal context: one atomic pipe write.
void ForwardServiceSignal(int sig, siginfo_t* info, void*) {
    int savedErrno = errno;
    siginfo_t record;
    if (info) {
        record = *info;
    } else {
        memset(&record, 0, sizeof record);
        record.si_signo = sig;
    }
    ssize_t ignored = write(stopPipe[1], &record, sizeof record);
    (void)ignored;
    errno = savedErrno;
}

// Reads signal records until a record with signal number 0 asks it to end.
void* StopThreadMain(void*) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) {
        siginfo_t record;
        ssize_t n = read(stopPipe[0], &record, sizeof record);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof record) || record.si_signo == 0) break;
        RunStopSteps(record.si_signo, &record);
    }
    return nullptr;
}

void ClosePipe() {
    for (int& fd : stopPipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

bool StartStopThread() {
    if (stopThreadRunning) return true;
    if (pipe2(stopPipe, O_CLOEXEC) != 0) return false;
    // The handler must never block on a full pipe.
    fcntl(stopPipe[1], F_SETFL, fcntl(stopPipe[1], F_GETFL) | O_NONBLOCK);
    if (pthread_create(&stopThread, nullptr, StopThreadMain, nullptr) != 0) {
        ClosePipe();
        return false;
    }
    stopThreadRunning = true;
    return true;
}

void SetHandler(int sig, void (*handler)(int, siginfo_t*, void*), struct sigaction* previous) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, previous);
}

// Before the virtual machine exists: only the first request is recorded.
void RecordStopRequest(int sig, siginfo_t*, void*) {
    if (!pendingStop) pendingStop = sig;
}

void InstallServiceHandler() {
    if (!StartStopThread()) {
        SayWarning("The service's stop handler could not be started: %s", strerror(errno));
        return;
    }
    SetHandler(SIGTERM, ForwardServiceSignal, &prevTermAction);
    fnPrevServiceTerm = prevTermAction.sa_handler;
    InstallReopenOnHangup();
    if (!intIgnored) SetHandler(SIGINT, ForwardServiceSignal, &prevIntAction);
}

// A stop was requested before the virtual machine existed: the start ends
// here, before main, through the runtime's own exit (status kExitSignalBase + signal).
void EndStartOnEarlyStop(JNIEnv* env, int sig) {
    ReleaseServiceFiles();
    ReportStartStatus(kExitSignalBase + sig);
    if (env) {
        jclass system = env->FindClass("java/lang/System");
        jmethodID exitMethod = system ? env->GetStaticMethodID(system, "exit", "(I)V") : nullptr;
        if (exitMethod) env->CallStaticVoidMethod(system, exitMethod, static_cast<jint>(kExitSignalBase + sig));
        CJvmLauncher::CheckException(env, false);
    }
    exit(kExitSignalBase + sig);
}

}  // namespace

void SetIsServiceFlag() {
    CJvmLauncher* launcher = plchr;
    JNIEnv* env = launcher ? launcher->GetEnv() : nullptr;
    if (env) {
        serviceVm = launcher->GetJavaVM();
        jclass cls = env->FindClass("com/brindell/tvx/ServiceStatusManager");
        if (cls) {
            jfieldID flag = env->GetStaticFieldID(cls, "isRunAsService", "Z");
            if (flag) env->SetStaticBooleanField(cls, flag, JNI_TRUE);
            env->DeleteLocalRef(cls);
        }
        // A missing helper class is no error: the service then runs without it.
        CJvmLauncher::CheckException(env, false);
    }
    InstallServiceHandler();
    if (int sig = PendingStopSignal()) EndStartOnEarlyStop(env, sig);
}

void InstallEarlyStopHandling() {
    pendingStop = 0;
    struct sigaction current;
    intIgnored = sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
    SetHandler(SIGTERM, RecordStopRequest, nullptr);
    if (!intIgnored) SetHandler(SIGINT, RecordStopRequest, nullptr);
}

int PendingStopSignal() { return pendingStop; }

void ServiceHandler(int sig) {
    siginfo_t record;
    memset(&record, 0, sizeof record);
    record.si_signo = sig;
    RunStopSteps(sig, &record);
}

void StopServiceHandler() {
    if (!stopThreadRunning) return;
    sigaction(SIGTERM, &prevTermAction, nullptr);
    if (!intIgnored) sigaction(SIGINT, &prevIntAction, nullptr);
    siginfo_t quit;
    memset(&quit, 0, sizeof quit);
    // Blocking write: the quit record must arrive even behind queued signals.
    fcntl(stopPipe[1], F_SETFL, fcntl(stopPipe[1], F_GETFL) & ~O_NONBLOCK);
    ssize_t ignored = write(stopPipe[1], &quit, sizeof quit);
    (void)ignored;
    pthread_join(stopThread, nullptr);
    stopThreadRunning = false;
    ClosePipe();
}
