#include "base/diagnostic.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include "base/sigpipe_guard.h"

namespace {

// One line under the guard and stderr's lock, so that lines of two threads
// never interleave.
void WriteLine(const char* opening, const char* format, va_list args) {
    CSigpipeGuard quiet;
    flockfile(stderr);
    if (opening) fputs(opening, stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    fflush(stderr);
    funlockfile(stderr);
}

}  // namespace

void SayError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine("ERROR: ", format, args);
    va_end(args);
}

void SayWarning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine("WARNING: ", format, args);
    va_end(args);
}

void SayLine(const char* text) {
    CSigpipeGuard quiet;
    flockfile(stderr);
    fputs(text ? text : "", stderr);
    fputc('\n', stderr);
    fflush(stderr);
    funlockfile(stderr);
}

void WriteWhole(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        length -= static_cast<size_t>(n);
    }
}
