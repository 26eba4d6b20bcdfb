// One thread per process looks after the log files: every second it
// rotates those past logmaxsize, and it reopens them all when the SIGHUP
// handler (which only writes one byte into a pipe) says a rotation from
// outside has happened.
#include "service/service_logs.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "base/detached_thread.h"
#include "base/diagnostic.h"
#include "base/my_string.h"
#include "redirect/std_redir.h"
#include "settings/settings_loader.h"

namespace {

int hangupPipe[2] = {-1, -1};
bool keeperRunning;
long long maxBytes;
int keepCount = kDefaultLogKeep;

void* KeeperMain(void*) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) {
        struct pollfd wake = {hangupPipe[0], POLLIN, 0};
        int ready = poll(&wake, hangupPipe[0] >= 0 ? 1 : 0, 1000);
        if (ready > 0) {
            char drained[64];
            while (read(hangupPipe[0], drained, sizeof drained) > 0) {
            }
            stdredir.ReopenFiles();
        } else if (ready < 0 && errno != EINTR) {
            sleep(1);
        }
        if (maxBytes > 0) stdredir.RotateFiles(maxBytes, keepCount);
    }
    return nullptr;
}

void OnHangup(int) {
    int savedErrno = errno;
    char byte = 1;
    ssize_t ignored = write(hangupPipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

}  // namespace

long long ParseLogSize(const char* text) {
    if (!text || !*text) return 0;
    long long value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (p - text >= 12) return -1;
        value = value * 10 + (*p - '0');
    }
    if (p == text) return -1;
    long long unit = 1;
    if (*p == 'K' || *p == 'k') unit = 1024;
    if (*p == 'M' || *p == 'm') unit = 1024 * 1024;
    if (*p == 'G' || *p == 'g') unit = 1024LL * 1024 * 1024;
    if (unit > 1) ++p;
    if (*p) return -1;
    // Twelve digits of gigabytes would not fit: no file grows that large.
    if (value > LLONG_MAX / unit) return -1;
    value *= unit;
    return value >= 1024 ? value : -1;
}

int ParseLogKeep(const char* text) {
    if (!text || !*text) return kDefaultLogKeep;
    int value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || p - text >= 2) return -1;
        value = value * 10 + (*p - '0');
    }
    return value;
}

void KeepLogs(bool reopenOnHangup) {
    if (keeperRunning) return;
    CSettingsLoader* loader = pldr;
    MyCString size = loader ? loader->GetCommon("logmaxsize") : MyCString();
    MyCString keep = loader ? loader->GetCommon("logkeep") : MyCString();
    long long bytes = ParseLogSize(size);
    int count = ParseLogKeep(keep);
    if (bytes < 0 || count < 0) {
        if (bytes < 0)
            SayWarning("logmaxsize must be a size of at least 1K (digits, then K, M or G): the logs are not rotated.");
        else
            SayWarning("logkeep must be a number from 0 to 99: the logs are not rotated.");
        bytes = 0;
    }
    if (bytes == 0 && !reopenOnHangup) return;
    maxBytes = bytes;
    keepCount = count < 0 ? kDefaultLogKeep : count;
    if (reopenOnHangup && hangupPipe[0] < 0) {
        if (pipe2(hangupPipe, O_CLOEXEC | O_NONBLOCK) != 0) hangupPipe[0] = hangupPipe[1] = -1;
        // Until the virtual machine exists (and would take SIGHUP as a
        // shutdown request) a hangup changes nothing.
        signal(SIGHUP, SIG_IGN);
    }
    keeperRunning = StartDetachedThread(KeeperMain);
}

void InstallReopenOnHangup() {
    if (hangupPipe[1] < 0) return;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnHangup;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, nullptr);
}
