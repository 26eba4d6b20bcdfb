// Redirection of descriptors 1 and 2 to files or to the input of shell
// commands, with one open target per distinct name.
#include "redirect/std_redir.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
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

int OpenLogFile(const char* name) {
    // Never through a symbolic link: someone who can plant one beside the
    // executable must not choose where the launcher's output is appended.
    // A new log is the owner's and the group's to read, nobody else's to
    // touch (0640 whatever the umask allows).
    int fd = open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
    if (fd == -1) return -1;
    // Writes block as on any stream: a FIFO whose reader is slow holds the
    // writer back rather than losing text.
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

CStdRedir::CStdRedirTarget::CStdRedirTarget(const char* name)
    : m_fd(-1), m_name(name), m_stream(nullptr), m_error(0) {
    if (!name || !*name) return;
    if (name[0] == '|') {
        // "e": the pipe is close-on-exec in this process, so programs the
        // application starts do not keep the command's input open.
        m_stream = popen(name + 1, "we");
        if (m_stream) m_fd = fileno(m_stream);
        if (!m_stream) m_error = errno ? errno : ENOMEM;
        return;
    }
    m_fd = MoveAboveStandard(OpenLogFile(name));
    if (m_fd == -1) m_error = errno;
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

MyCString CStdRedir::Refusal(const char* name) const {
    MyCString text;
    if (!name || name[0] == '|') return text;
    for (int i = 0; i < m_targets.GetSize(); ++i) {
        const CStdRedirTarget* target = m_targets[i];
        if (strcmp(target->m_name.c_str(), name) != 0 || target->m_fd != -1) continue;
        text.Format("WARNING: The log %s cannot be written (%s); the stream stays where it was.", name,
                    target->m_error == ENXIO ? "it is a FIFO that no process reads" : strerror(target->m_error));
        break;
    }
    return text;
}

int CStdRedir::OriginalStdout() const {
    if (m_savedStdout < 0) return -1;
    struct stat original, now;
    if (fstat(m_savedStdout, &original) == 0 && fstat(STDOUT_FILENO, &now) == 0 && original.st_dev == now.st_dev &&
        original.st_ino == now.st_ino)
        return -1;
    return m_savedStdout;
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
