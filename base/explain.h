// Explain mode: with TVX_EXPLAIN set (and not "0") the launcher writes what it
// does, one fact a line, to the standard error it was started with; with
// TVX_EXPLAIN=dry it stops before creating the virtual machine. When the
// variable is unset every hook costs one test of a process-wide descriptor.
#ifndef TVX_BASE_EXPLAIN_H
#define TVX_BASE_EXPLAIN_H

class CExplain {
public:
    // Reads TVX_EXPLAIN and, when it asks for explanations, keeps a private
    // copy of descriptor 2, so that later redirection of standard error
    // does not move the explanations into the log.
    static void Start();
    // Closes the copy; the application starts after this.
    static void Stop();
    static bool On() { return s_fd >= 0; }
    // True with TVX_EXPLAIN=dry: explain, then stop before the virtual
    // machine is created (nothing of the application runs).
    static bool Dry() { return s_dry; }
    // One line: "tvx-explain: " and the formatted text. Formats are
    // constants of the launcher; values travel as arguments.
    static void Fact(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    static int s_fd;
    static bool s_dry;
};

#endif  // TVX_BASE_EXPLAIN_H
