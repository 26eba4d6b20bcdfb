// The start status of a detached service. The process that was started
// detaches a child (as daemon(1, 1) would: fork, new session, same working
// directory and streams) and then waits on a pipe until that child has taken
// the lock, written the pid file and either reached the application's main
// method or failed. It exits with 0 in the first case and with the launch
// result in the second, after it has shown the child's message on its own
// standard output (the user's terminal), so that an init system or a script
// that starts the service learns the truth from the status.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/sigpipe_guard.h"
#include "instances/shm_message.h"
#include "launch/messages.h"
#include "service/service.h"
#include "service/service_notify.h"

namespace {

// Records on the pipe: messages (value = length, the text follows), then
// one status (value = the start result), after which the pipe is closed.
struct StartRecord {
    int32_t kind;
    int32_t value;
};
enum { kStartMessage = 1, kStartStatus = 2 };

int startPipe = -1;  // the child's write end while the start is undecided

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// What the child would show on standard output goes to the starter.
void RelayToStarter(const char* text) {
    CSigpipeGuard quiet;  // the starter may have been killed meanwhile
    size_t length = strlen(text);
    StartRecord record = {kStartMessage, static_cast<int32_t>(length)};
    if (startPipe >= 0 && WriteAll(startPipe, &record, sizeof record)) WriteAll(startPipe, text, length);
}

// The exit status the starter reports for a child that ended without
// sending one.
int StatusOfEndedChild(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return kExitStartLost;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return kExitSignalBase + WTERMSIG(status);
    return kExitStartLost;
}

// The starter: shows the relayed messages, returns the start status.
int WaitForStart(int fd, pid_t child) {
    StartRecord record;
    bool decided = false;
    int status = kExitStartLost;
    while (!decided && ReadAll(fd, &record, sizeof record)) {
        if (record.kind == kStartStatus) {
            status = record.value;
            decided = true;
        } else if (record.kind == kStartMessage && record.value >= 0) {
            MyCString text;
            text.SetSize(record.value);
            if (!ReadAll(fd, text.Data(), static_cast<size_t>(record.value))) break;
            ShowOnStdout(text);
        } else {
            break;
        }
    }
    close(fd);
    // A failed child cleans up (pid file, lock, virtual machine, instance
    // segment) before it ends; the starter ends after it.
    if (!decided || status != kStartReachedMain) {
        int ended = StatusOfEndedChild(child);
        if (!decided) status = ended;
    }
    return status;
}

}  // namespace

void DetachWithStartStatus() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        SayError("Cannot detach the service: %s", strerror(errno));
        exit(kExitServiceRefused);
    }
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child < 0) {
        SayError("Cannot detach the service: %s", strerror(errno));
        exit(kExitServiceRefused);
    }
    if (child == 0) {
        close(fds[0]);
        setsid();
        startPipe = fds[1];
        SetStdoutRelay(RelayToStarter);
        return;
    }
    close(fds[1]);
    // Under systemd the child is the process to watch from now on.
    NotifyMainPid(child);
    // The child takes this process's place in the instance channel; this
    // process leaves it, so that neither its receive thread nor its table
    // entry makes it look like a running instance while it waits.
    if (pshmmsg) pshmmsg->Withdraw();
    int status = WaitForStart(fds[0], child);
    fflush(stdout);
    if (status == kStartReachedMain) {
        // The daemon runs on with everything this process opened (a pipe
        // into a command, the instance segment): leave as daemon() does.
        _exit(0);
    }
    // The child is gone: end through the normal exit path.
    exit(status);
}

void ReportStartStatus(int status) {
    if (startPipe < 0) return;
    CSigpipeGuard quiet;
    StartRecord record = {kStartStatus, status};
    WriteAll(startPipe, &record, sizeof record);
    close(startPipe);
    startPipe = -1;
    SetStdoutRelay(nullptr);
}
