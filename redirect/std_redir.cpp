// Redirection of descriptors 1 and 2 to files or to the input of shell
// commands, with one open target per distinct name.
#include "redirect/std_redir.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace {

// Saved-descriptor value of a stream that was closed when it was redirected:
// restoring it means closing it again.
constexpr int kWasClosed = -2;

// Moves a descriptor that landed on 0, 1 or 2 (the launcher was started with
// a standard stream closed) above them, so that redirecting the streams can
// neither overwrite nor close the target itself.
int MoveAboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// Puts back one stream: its saved descriptor onto `fd`, or closes `fd` when
// the stream was closed before the redirection.
void RestoreStream(int fd, int& saved) {
    if (saved == -1) return;
    if (saved == kWasClosed) {
        close(fd);
    } else {
        dup2(saved, fd);
        close(saved);
    }
    saved = -1;
}

}  // namespace

CStdRedir::CStdRedirTarget::CStdRedirTarget(const char* name) : m_fd(-1), m_name(name), m_stream(nullptr) {
    if (!name || !*name) return;
    if (name[0] == '|') {
        // "e": the pipe is close-on-exec in this process, so programs the
        // application starts do not keep the command's input open.
        m_stream = popen(name + 1, "we");
        if (m_stream) m_fd = fileno(m_stream);
        return;
    }
    // Never through a symbolic link: someone who can plant one beside the
    // executable must not choose where the launcher's output is appended.
    // A new log is the owner's and the group's to read, nobody else's to
    // touch (0640 whatever the umask allows).
    m_fd = MoveAboveStandard(open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0640));
}

CStdRedir::CStdRedirTarget::~CStdRedirTarget() {
    if (m_stream) {
        // Closes the pipe and waits until the command has read everything
        // and ended (returns at once in a process that did not start it).
        pclose(m_stream);
    } else if (m_fd != -1) {
        close(m_fd);
    }
    m_stream = nullptr;
    m_fd = -1;
}

CStdRedir::CStdRedir() : m_savedStdout(-1), m_savedStderr(-1) {}

CStdRedir::~CStdRedir() { Restore(); }

CStdRedir::CStdRedirTarget* CStdRedir::GetStdRedirTarget(const char* name) {
    if (!name) return nullptr;
    for (int i = 0; i < m_targets.GetSize(); ++i) {
        if (strcmp(m_targets[i]->m_name.c_str(), name) == 0) return m_targets[i];
    }
    CStdRedirTarget* target = new CStdRedirTarget(name);
    m_targets.Append(target);
    return target;
}

int CStdRedir::GetStdRedir(const char* name) {
    CStdRedirTarget* target = GetStdRedirTarget(name);
    return target ? target->m_fd : -1;
}

int CStdRedir::RedirectStderr(const char* name) { return Redirect(STDERR_FILENO, m_savedStderr, name); }

int CStdRedir::RedirectStdout(const char* name) { return Redirect(STDOUT_FILENO, m_savedStdout, name); }

int CStdRedir::Redirect(int fd, int& saved, const char* name) {
    // "inherit": the stream stays what the launcher was started with (the
    // journal under systemd, the terminal of a test run).
    if (name && strcmp(name, kInheritTarget) == 0) return fd;
    int target = GetStdRedir(name);
    if (target == -1) return -1;
    if (saved != -1) return target;  // only the first successful redirection counts

    // Buffered text belongs to the old destination.
    fflush(fd == STDOUT_FILENO ? stdout : stderr);
    // The saved copy is close-on-exec: children see only the redirected stream.
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy == -1 && errno != EBADF) return target;
    int result = dup2(target, fd);
    if (result == -1) {
        if (copy != -1) close(copy);
        return -1;
    }
    saved = copy == -1 ? kWasClosed : copy;
    return result;
}

void CStdRedir::Restore() {
    if (m_savedStdout == -1 && m_savedStderr == -1 && m_targets.GetSize() == 0) return;
    fflush(stdout);
    fflush(stderr);
    // Descriptors 1 and 2 first: a command sees the end of its input only
    // when every duplicate of its pipe is closed.
    RestoreStream(STDOUT_FILENO, m_savedStdout);
    RestoreStream(STDERR_FILENO, m_savedStderr);
    // Newest target first: a command started after a stream went into an
    // earlier command's pipe holds that pipe as its own output, so it has to
    // end before the earlier command can see the end of its input.
    for (int i = m_targets.GetSize() - 1; i >= 0; --i) delete m_targets[i];
    m_targets.Release();
}

void CStdRedir::ReleaseOriginals() {
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null == -1) return;
    if (m_savedStdout >= 0) dup3(null, m_savedStdout, O_CLOEXEC);
    if (m_savedStderr >= 0) dup3(null, m_savedStderr, O_CLOEXEC);
    close(null);
}
