// The notification protocol of systemd, without libsystemd: each message is
// one datagram on an AF_UNIX socket, sent with the sender's credentials so
// that systemd can tell which process speaks (NotifyAccess=main).
#include "service/systemd_notify.h"

#include <errno.h>
#include <pthread.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "base/detached_thread.h"

namespace {

// Reads a decimal number of at most 19 digits; false for anything else.
bool ParseUnsigned(const char* text, uint64_t& value) {
    if (!text || !*text) return false;
    uint64_t v = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || ++digits > 19) return false;
        v = v * 10 + static_cast<uint64_t>(*p - '0');
    }
    value = v;
    return true;
}

}  // namespace

bool NotifySocketAddress(const char* value, struct sockaddr_un& address, socklen_t& length) {
    if (!value || (value[0] != '/' && value[0] != '@')) return false;
    size_t size = strlen(value);
    if (size < 2 && value[0] == '@') return false;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (value[0] == '/') {
        // A path needs its terminating NUL inside sun_path.
        if (size >= sizeof address.sun_path) return false;
        memcpy(address.sun_path, value, size);
        length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + size + 1);
    } else {
        // An abstract name: a NUL in place of the '@', no terminator.
        if (size > sizeof address.sun_path) return false;
        memcpy(address.sun_path + 1, value + 1, size - 1);
        length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + size);
    }
    return true;
}

bool SystemdNotifies() {
    const char* value = getenv("NOTIFY_SOCKET");
    return value && *value;
}

bool SystemdNotify(const char* message) {
    struct sockaddr_un address;
    socklen_t length = 0;
    if (!message || !NotifySocketAddress(getenv("NOTIFY_SOCKET"), address, length)) return false;
    int savedErrno = errno;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        errno = savedErrno;
        return false;
    }
    struct iovec part = {const_cast<char*>(message), strlen(message)};
    union {
        struct cmsghdr header;
        char space[CMSG_SPACE(sizeof(struct ucred))];
    } control;
    memset(&control, 0, sizeof control);
    struct msghdr datagram;
    memset(&datagram, 0, sizeof datagram);
    datagram.msg_name = &address;
    datagram.msg_namelen = length;
    datagram.msg_iov = &part;
    datagram.msg_iovlen = 1;
    datagram.msg_control = &control;
    datagram.msg_controllen = sizeof control.space;
    struct cmsghdr* credentials = CMSG_FIRSTHDR(&datagram);
    credentials->cmsg_level = SOL_SOCKET;
    credentials->cmsg_type = SCM_CREDENTIALS;
    credentials->cmsg_len = CMSG_LEN(sizeof(struct ucred));
    struct ucred own = {getpid(), getuid(), getgid()};
    memcpy(CMSG_DATA(credentials), &own, sizeof own);

    ssize_t sent;
    do {
        sent = sendmsg(fd, &datagram, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && errno == EPERM) {
        // Credentials this process may not claim (another pid namespace):
        // the kernel adds the true ones by itself.
        datagram.msg_control = nullptr;
        datagram.msg_controllen = 0;
        do {
            sent = sendmsg(fd, &datagram, MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (sent < 0 && errno == EINTR);
    }
    close(fd);
    errno = savedErrno;
    return sent == static_cast<ssize_t>(part.iov_len);
}

uint64_t WatchdogIntervalUsec() {
    uint64_t usec = 0;
    if (!ParseUnsigned(getenv("WATCHDOG_USEC"), usec) || usec == 0) return 0;
    const char* pid = getenv("WATCHDOG_PID");
    if (pid) {
        uint64_t owner = 0;
        if (!ParseUnsigned(pid, owner) || owner != static_cast<uint64_t>(getpid())) return 0;
    }
    return usec;
}

namespace {

struct Watchdog {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t wake = PTHREAD_COND_INITIALIZER;
    bool running = false;  // a thread exists
    bool stop = false;     // it is asked to end
    bool (*probe)(void*) = nullptr;
    void* context = nullptr;
    uint64_t periodUsec = 0;
};

Watchdog watchdog;

void AddUsec(struct timespec& at, uint64_t usec) {
    at.tv_sec += static_cast<time_t>(usec / 1000000);
    at.tv_nsec += static_cast<long>((usec % 1000000) * 1000);
    if (at.tv_nsec >= 1000000000) {
        at.tv_sec += 1;
        at.tv_nsec -= 1000000000;
    }
}

void* WatchdogMain(void*) {
    pthread_mutex_lock(&watchdog.lock);
    while (!watchdog.stop) {
        struct timespec at;
        clock_gettime(CLOCK_MONOTONIC, &at);
        AddUsec(at, watchdog.periodUsec);
        while (!watchdog.stop && pthread_cond_timedwait(&watchdog.wake, &watchdog.lock, &at) != ETIMEDOUT) {
        }
        if (watchdog.stop) break;
        pthread_mutex_unlock(&watchdog.lock);
        bool answered = watchdog.probe(watchdog.context);
        pthread_mutex_lock(&watchdog.lock);
        if (answered && !watchdog.stop) SystemdNotify("WATCHDOG=1");
    }
    watchdog.running = false;
    pthread_cond_broadcast(&watchdog.wake);
    pthread_mutex_unlock(&watchdog.lock);
    return nullptr;
}

}  // namespace

bool StartWatchdog(bool (*probe)(void* context), void* context, uint64_t intervalUsec) {
    if (!probe || intervalUsec == 0 || !SystemdNotifies()) return false;
    pthread_mutex_lock(&watchdog.lock);
    bool started = watchdog.running;
    if (!started) {
        watchdog.stop = false;
        watchdog.probe = probe;
        watchdog.context = context;
        watchdog.periodUsec = intervalUsec / 2 ? intervalUsec / 2 : 1;
        pthread_condattr_t attributes;
        pthread_condattr_init(&attributes);
        pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        pthread_cond_destroy(&watchdog.wake);
        pthread_cond_init(&watchdog.wake, &attributes);
        pthread_condattr_destroy(&attributes);
        started = watchdog.running = StartDetachedThread(WatchdogMain);
    }
    pthread_mutex_unlock(&watchdog.lock);
    return started;
}

void StopWatchdog() {
    pthread_mutex_lock(&watchdog.lock);
    watchdog.stop = true;
    pthread_cond_broadcast(&watchdog.wake);
    // A probe blocked in a wedged runtime does not return: wait one second
    // at most; the thread sends nothing more once it comes back.
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    AddUsec(until, 1000000);
    while (watchdog.running && pthread_cond_timedwait(&watchdog.wake, &watchdog.lock, &until) != ETIMEDOUT) {
    }
    pthread_mutex_unlock(&watchdog.lock);
}
