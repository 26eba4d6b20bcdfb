#include "base/sigpipe_guard.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

namespace {

bool SigpipePending() {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

CSigpipeGuard::CSigpipeGuard() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &m_oldMask);
    // A SIGPIPE that was already waiting is not ours to swallow.
    m_wasPending = SigpipePending();
}

CSigpipeGuard::~CSigpipeGuard() {
    if (!m_wasPending && SigpipePending()) {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        const timespec now = {0, 0};
        int saved = errno;
        while (sigtimedwait(&pipeOnly, nullptr, &now) == -1 && errno == EINTR) {
        }
        errno = saved;
    }
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}
