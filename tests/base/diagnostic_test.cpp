// The launcher's one writer for standard error: its form, and that a
// standard error whose reader has gone never ends the process by SIGPIPE.
#include "base/diagnostic.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "base/platform.h"

namespace {

// Runs `say` in a child whose descriptor 2 is `fd`, with SIGPIPE at its
// default action; returns the child's wait status.
int StatusOfChild(int fd, void (*say)()) {
    pid_t child = fork();
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(fd, STDERR_FILENO);
        say();
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return status;
}

const struct {
    const char* name;
    void (*say)();
    const char* line;  // what a reader sees ("" to check only a part)
    const char* part;
} kWriters[] = {
    {"error", [] { SayError("%s has %d", "x", 5); }, "ERROR: x has 5\n", ""},
    {"warning", [] { SayWarning("%s", "100%"); }, "WARNING: 100%\n", ""},
    {"line as it stands", [] { SayLine("Java Runtime Environment not found."); },
     "Java Runtime Environment not found.\n", ""},
    {"search path too long", [] {
         _finddata_t data;
         _findfirst(std::string(8192, 'x').append("/*.jar").c_str(), &data);
     },
     "", "path too long to search"},
};

TEST(Diagnostic, EachWriterSaysOneLineInItsForm) {
    for (const auto& row : kWriters) {
        SCOPED_TRACE(row.name);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        int status = StatusOfChild(fds[1], row.say);
        close(fds[1]);
        std::string said;
        char buffer[512];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0) said.append(buffer, static_cast<size_t>(n));
        close(fds[0]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        if (*row.line) {
            EXPECT_EQ(said, row.line);
        }
        EXPECT_NE(said.find(row.part), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    }
}

TEST(Diagnostic, EachWriterSurvivesAStandardErrorWhoseReaderHasGone) {
    for (const auto& row : kWriters) {
        SCOPED_TRACE(row.name);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        int status = StatusOfChild(fds[1], row.say);
        close(fds[1]);
        EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

}  // namespace
