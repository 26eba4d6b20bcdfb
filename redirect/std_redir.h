// Redirection of standard output and standard error (descriptors 1 and 2)
// to files or shell commands.
#ifndef TVX_REDIRECT_STD_REDIR_H
#define TVX_REDIRECT_STD_REDIR_H

#include <stdio.h>

#include "base/my_string.h"

// The target name that keeps a stream as the launcher was started with it.
constexpr char kInheritTarget[] = "inherit";

class CStdRedir {
public:
    class CStdRedirTarget {
    public:
        explicit CStdRedirTarget(const char* name);
        virtual ~CStdRedirTarget();
        CStdRedirTarget(const CStdRedirTarget&) = delete;
        CStdRedirTarget& operator=(const CStdRedirTarget&) = delete;

        int m_fd;
        MyCString m_name;
        FILE* m_stream;
        int m_error;  // errno of a failed open, 0 otherwise
    };

    CStdRedir();
    virtual ~CStdRedir();
    CStdRedir(const CStdRedir&) = delete;
    CStdRedir& operator=(const CStdRedir&) = delete;

    CStdRedirTarget* GetStdRedirTarget(const char* name);
    // Why the file target `name` could not be opened, as a line for the
    // user; empty when it is open, is a command, or was never asked for. (A symbolic link in its place is the
    // caller's to name: it is refused on purpose.)
    MyCString Refusal(const char* name) const;
    // The stream standard output was before it was redirected (the terminal
    // or journal that started the launcher), or -1 when it was not
    // redirected, was closed, or is the very file it now goes to.
    int OriginalStdout() const;
    int GetStdRedir(const char* name);
    int RedirectStderr(const char* name);
    int RedirectStdout(const char* name);
    // Flushes stdio, puts descriptors 1 and 2 back, then closes every target
    // and waits for each command target to end. Idempotent; the destructor
    // runs it too.
    void Restore();
    // Points the saved copies of the original streams at /dev/null. A
    // detached daemon calls it so that it does not keep its starter's
    // terminal or pipe open for its whole life (a caller reading the
    // starter's output would otherwise wait until the daemon ends).
    void ReleaseOriginals();
    // Opens every file target again under its name and puts the new file
    // where the old one was (descriptors 1 and 2 included), so that output
    // goes on in a file that a log rotation created. Command targets and
    // failed opens are left as they are. Only async-signal-safe calls.
    void ReopenFiles();
    // Each file target that has grown past `maxBytes` is renamed to
    // "<name>.1" (older ones shifted up to "<name>.<keep>", the oldest
    // removed; with `keep` 0 it is removed) and reopened. Writes in between
    // land in the renamed file, so no line is lost. Returns the number of
    // files rotated.
    int RotateFiles(long long maxBytes, int keep);

private:
    int Redirect(int fd, int& saved, const char* name);

    CBufferT<CStdRedirTarget*> m_targets;
    int m_savedStdout;
    int m_savedStderr;
};

// Opens a file target for appending: never through a symbolic link, never
// blocking on a FIFO that nobody reads (that fails with ENXIO), and created
// for its owner and group only. Returns the descriptor or -1 with errno set.
int OpenLogFile(const char* name);

extern CStdRedir stdredir;

#endif  // TVX_REDIRECT_STD_REDIR_H
