// The explain sink: a copy of the original standard error, written with
// write(2) so that it owes nothing to stdio buffering or redirection.
#include "base/explain.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/my_string.h"
#include "base/sigpipe_guard.h"

int CExplain::s_fd = -1;
bool CExplain::s_dry = false;

void CExplain::Start() {
    const char* value = getenv("TVX_EXPLAIN");
    if (!value || strcmp(value, "0") == 0 || s_fd >= 0) return;
    s_fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    s_dry = strcmp(value, "dry") == 0;
}

void CExplain::Stop() {
    if (s_fd < 0) return;
    close(s_fd);
    s_fd = -1;
}

void CExplain::Fact(const char* format, ...) {
    if (s_fd < 0) return;
    MyCString text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    MyCString line("tvx-explain: ");
    line += text;
    line += '\n';
    CSigpipeGuard quiet;  // the copy of standard error may be a pipe whose reader has gone
    WriteWhole(s_fd, line.GetData(), static_cast<size_t>(line.GetLength()));
}
