// Writing to a pipe whose reader has gone raises SIGPIPE, whose default
// action ends the process. Messages are written where the user pointed the
// streams (a terminal, a file, a command that may have stopped reading); a
// message must never be what kills the launcher.
#ifndef TVX_BASE_SIGPIPE_GUARD_H
#define TVX_BASE_SIGPIPE_GUARD_H

#include <signal.h>

// While it lives, a SIGPIPE raised by this thread's writes is held back; when
// it ends, such a signal is consumed (the write itself fails with EPIPE) and
// the thread's signal mask is put back. Other threads are not affected.
class CSigpipeGuard {
public:
    CSigpipeGuard();
    ~CSigpipeGuard();
    CSigpipeGuard(const CSigpipeGuard&) = delete;
    CSigpipeGuard& operator=(const CSigpipeGuard&) = delete;

private:
    sigset_t m_oldMask;
    bool m_wasPending;
};

#endif  // TVX_BASE_SIGPIPE_GUARD_H
