// Log files that stay bounded: reopening after an outside rotation
// (logrotate's postrotate signal) and the launcher's own rotation by size.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "redirect/std_redir.h"

namespace {

bool IsFileTarget(const CStdRedir::CStdRedirTarget* target) {
    return target && !target->m_stream && target->m_fd >= 0 && !target->m_name.IsEmpty();
}

// Points `fd` at a fresh open of `name`, and with it descriptors 1 and 2
// where they share its file.
bool ReopenTarget(const char* name, int fd) {
    struct stat old;
    if (fstat(fd, &old) != 0) return false;
    int fresh = OpenLogFile(name);
    if (fresh < 0) return false;
    for (int standard = STDOUT_FILENO; standard <= STDERR_FILENO; ++standard) {
        struct stat st;
        if (fstat(standard, &st) == 0 && st.st_dev == old.st_dev && st.st_ino == old.st_ino) dup2(fresh, standard);
    }
    // dup2 keeps the target's own descriptor number and close-on-exec flag off:
    // set it again, as the first open did.
    dup3(fresh, fd, O_CLOEXEC);
    close(fresh);
    return true;
}

void NumberedName(char (&out)[4096], const char* name, int number) {
    snprintf(out, sizeof out, "%s.%d", name, number);
}

}  // namespace

void CStdRedir::ReopenFiles() {
    for (int i = 0; i < m_targets.GetSize(); ++i) {
        CStdRedirTarget* target = m_targets[i];
        if (IsFileTarget(target)) ReopenTarget(target->m_name.c_str(), target->m_fd);
    }
}

int CStdRedir::RotateFiles(long long maxBytes, int keep) {
    int rotated = 0;
    for (int i = 0; i < m_targets.GetSize(); ++i) {
        CStdRedirTarget* target = m_targets[i];
        if (!IsFileTarget(target)) continue;
        struct stat st;
        if (fstat(target->m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= maxBytes) continue;
        const char* name = target->m_name.c_str();
        char older[4096];
        char newer[4096];
        if (keep <= 0) {
            unlink(name);
        } else {
            NumberedName(older, name, keep);
            unlink(older);
            for (int n = keep - 1; n >= 1; --n) {
                NumberedName(newer, name, n);
                NumberedName(older, name, n + 1);
                rename(newer, older);
            }
            NumberedName(older, name, 1);
            if (rename(name, older) != 0) continue;
        }
        if (ReopenTarget(name, target->m_fd)) ++rotated;
    }
    return rotated;
}
