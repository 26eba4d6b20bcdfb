// What the launcher says on standard error goes through here, in one form:
// "ERROR: " when it refuses or ends something, "WARNING: " when it carries
// on without something, then the text and a newline. Standard error may be a
// pipe into a command that has ended: every write holds the SIGPIPE guard,
// so a message never kills the launcher.
#ifndef TVX_BASE_DIAGNOSTIC_H
#define TVX_BASE_DIAGNOSTIC_H

#include <stddef.h>

// Formats are constants of the launcher; values travel as arguments.
void SayError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SayWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
// `text` as it stands and a newline: the launcher's own message texts, which
// carry their wording themselves. Allocates nothing (it also reports running
// out of memory).
void SayLine(const char* text);

// Writes all `length` bytes of `data` to `fd`, going on after interrupted
// and partial writes; stops at the first failure (a closed pipe, a full
// disk). The caller holds the SIGPIPE guard where `fd` may be a pipe.
void WriteWhole(int fd, const char* data, size_t length);

#endif  // TVX_BASE_DIAGNOSTIC_H
