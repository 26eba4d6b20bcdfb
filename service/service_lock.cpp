// The service's paths, its lock file (a lockf record lock) and its pid file.
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/platform.h"
#include "launch/messages.h"
#include "service/service.h"

char execpath[kServicePathSize];
char prog[kServiceNameSize];
char pidfile[kServicePathSize];
char lockfile[kServicePathSize];
int fdlock = -1;

namespace {

// The stop thread and the main thread may both release the lock.
pthread_mutex_t lockMutex = PTHREAD_MUTEX_INITIALIZER;

// O_NOFOLLOW: the lock directory may be writable by everyone (/run/lock is
// mode 1777), and root must not create or lock a file a planted link names.
const int kLockFlags = O_WRONLY | O_CREAT | O_DSYNC | O_CLOEXEC | O_NOFOLLOW;
// A record lock needs write access: nobody else may write the file, or they
// could hold the service's lock.
const mode_t kLockMode = 0644;

// A lock directory that nobody but root or this user can change: /var/lock
// is writable by everyone, so /var/lock/subsys may have been made by anyone,
// who could then delete a held lock file in it.
bool UsableLockDirectory(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && (st.st_uid == 0 || st.st_uid == geteuid()) &&
           (st.st_mode & 022) == 0;
}

// Opens the lock file, never blocking on a FIFO or device planted there:
// only a regular file counts.
int OpenLockFile() {
    int fd = open(lockfile, kLockFlags | O_NONBLOCK, kLockMode);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        fd = -1;
    }
    return fd;
}

void ClearPaths() {
    execpath[0] = prog[0] = pidfile[0] = lockfile[0] = '\0';
}

// snprintf that reports whether the whole text fit.
template <int N>
bool FormatPath(char (&buffer)[N], const char* format, const char* value) {
    int n = snprintf(buffer, N, format, value);
    return n >= 0 && n < N;
}

// ReleaseLock's work, with lockMutex held.
void ReleaseLockHeld() {
    if (fdlock < 0) return;
    // The file goes first, while the lock is still held, so that nobody
    // can lock it between our unlock and its deletion.
    unlink(lockfile);
    lockf(fdlock, F_ULOCK, 0);
    close(fdlock);
    fdlock = -1;
}

}  // namespace

MyCString LockProblem() {
    if (!lockfile[0]) return MyCString();
    MyCString text = SymlinkRefusal(lockfile);
    struct stat st;
    if (text.IsEmpty() && lstat(lockfile, &st) == 0 && !S_ISREG(st.st_mode)) {
        text.Format("ERROR: Acquire lock failed: %s is not a regular file.", lockfile);
    } else if (text.IsEmpty() && lstat(lockfile, &st) == 0 && st.st_uid != geteuid()) {
        text.Format("ERROR: Acquire lock failed: the lock file %s belongs to user %s, not to %s.", lockfile,
                    UserName(st.st_uid).c_str(), UserName(geteuid()).c_str());
    }
    return text;
}

MyCString LockHolderLine() {
    MyCString text;
    if (!lockfile[0]) return text;
    int fd = open(lockfile, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return text;
    struct flock probe;
    memset(&probe, 0, sizeof probe);
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0 && probe.l_pid != getpid())
        text.Format("The service is running: process %d holds its lock %s.", static_cast<int>(probe.l_pid), lockfile);
    close(fd);
    return text;
}

bool PreparePaths() {
    ClearPaths();
    int n = GetModuleFileName(nullptr, execpath, kServicePathSize);
    if (n <= 0 || n >= kServicePathSize) {
        ClearPaths();
        return false;
    }
    const char* slash = strrchr(execpath, '/');
    if (!slash) return true;
    const char* name = slash + 1;
    if (strlen(name) >= static_cast<size_t>(kServiceNameSize)) {
        ClearPaths();
        return false;
    }
    strcpy(prog, name);
    const char* lockFormat = UsableLockDirectory("/var/lock/subsys") ? "/var/lock/subsys/%s" : "/var/lock/%s";
    if (!FormatPath(pidfile, "/var/run/%s.pid", prog) || !FormatPath(lockfile, lockFormat, prog)) {
        ClearPaths();
        return false;
    }
    return true;
}

bool TestLock(bool remove) {
    // Closing a descriptor drops every lockf lock of this process on the
    // file: never test while holding the lock.
    if (fdlock >= 0 || !lockfile[0]) return false;
    int fd = OpenLockFile();
    if (fd < 0) return false;
    bool free = lockf(fd, F_TEST, 0) == 0;
    close(fd);
    if (free && remove) unlink(lockfile);
    return free;
}

bool AcquireLock() {
    pthread_mutex_lock(&lockMutex);
    bool held = fdlock >= 0;
    if (!held && lockfile[0]) {
        int fd = OpenLockFile();
        if (fd >= 0 && lockf(fd, F_TLOCK, 0) == 0) {
            // A holder that just released may have deleted the file after we
            // opened it: the lock only counts on the file the path names now.
            struct stat opened, named;
            held = fstat(fd, &opened) == 0 && stat(lockfile, &named) == 0 && opened.st_dev == named.st_dev &&
                   opened.st_ino == named.st_ino;
        }
        if (held) {
            fdlock = fd;
        } else if (fd >= 0) {
            close(fd);
        }
    }
    pthread_mutex_unlock(&lockMutex);
    return held;
}

void ReleaseServiceFiles() {
    pthread_mutex_lock(&lockMutex);
    if (fdlock >= 0) {
        // The pid file goes while the lock is still held: once released, a
        // new instance may already have written its own.
        RemovePidFile();
        ReleaseLockHeld();
    }
    pthread_mutex_unlock(&lockMutex);
}

void ReleaseLock() {
    pthread_mutex_lock(&lockMutex);
    ReleaseLockHeld();
    pthread_mutex_unlock(&lockMutex);
}

bool WritePidFile() {
    if (!pidfile[0]) return false;
    int fd = open(pidfile, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) return false;
    // Only a regular file is written (and only then emptied).
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, 0) != 0) {
        close(fd);
        return false;
    }
    char text[32];
    int n = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
    bool ok = write(fd, text, static_cast<size_t>(n)) == n;
    close(fd);
    return ok;
}

void RemovePidFile() {
    if (pidfile[0]) unlink(pidfile);
}
