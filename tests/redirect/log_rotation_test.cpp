// Rotation and reopening of the launcher's log files on real descriptors,
// and the "inherit" target. Each case runs in a forked child, so the test
// program's own streams are never redirected.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "redirect/std_redir.h"
#include "tests/support/test_support.h"

namespace {

// Runs `body` in a child; its exit status is the child's verdict (0: good).
int InChild(const std::function<int()>& body) {
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) _exit(body());
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

void WriteLine(int fd, int n) {
    std::string line = "line " + std::to_string(n) + " of the service's output, padded to some length\n";
    ssize_t written = write(fd, line.data(), line.size());
    (void)written;
}

// The numbered lines 0..count-1, each exactly once and in order, across the
// files given oldest first.
bool EveryLineOnce(const std::vector<std::string>& files, int count) {
    std::string all;
    for (const std::string& f : files) {
        if (tvxtest::FileExists(f)) all += tvxtest::ReadFile(f);
    }
    size_t at = 0;
    for (int n = 0; n < count; ++n) {
        std::string line = "line " + std::to_string(n) + " of";
        size_t found = all.find(line, at);
        if (found != at) return false;
        at = all.find('\n', found) + 1;
    }
    return at == all.size();
}

struct RotationRow {
    int keep;
    int lines;
    int expectedOld;  // numbered files left
};

TEST(LogRotation, PastTheSizeTheFileMovesUpAndOutputGoesOnInAFreshOne) {
    const RotationRow rows[] = {{2, 100, 2}, {3, 200, 3}, {1, 50, 1}};
    for (const RotationRow& row : rows) {
        tvxtest::TempDir dir;
        const std::string log = dir / "app.stderr.log";
        int verdict = InChild([&] {
            CStdRedir redir;
            if (redir.RedirectStderr(log.c_str()) != STDERR_FILENO) return 1;
            if (redir.RedirectStdout(log.c_str()) != STDOUT_FILENO) return 2;
            int rotations = 0;
            for (int n = 0; n < row.lines; ++n) {
                WriteLine(n % 2 ? STDOUT_FILENO : STDERR_FILENO, n);
                rotations += redir.RotateFiles(1024, row.keep);
            }
            redir.Restore();
            return rotations >= row.expectedOld ? 0 : 3;
        });
        ASSERT_EQ(verdict, 0) << "keep " << row.keep;
        for (int n = 1; n <= row.expectedOld; ++n) EXPECT_TRUE(tvxtest::FileExists(log + "." + std::to_string(n)));
        EXPECT_FALSE(tvxtest::FileExists(log + "." + std::to_string(row.expectedOld + 1)));
        struct stat st;
        ASSERT_EQ(stat(log.c_str(), &st), 0);
        EXPECT_LE(st.st_size, 1024 + 100);
        // With keep old files the newest lines are all there, in order.
        std::vector<std::string> files;
        for (int n = row.expectedOld; n >= 1; --n) files.push_back(log + "." + std::to_string(n));
        files.push_back(log);
        std::string kept;
        for (const std::string& f : files) kept += tvxtest::ReadFile(f);
        size_t first = kept.find("line ");
        ASSERT_NE(first, std::string::npos);
        int from = std::stoi(kept.substr(first + 5));
        std::string expected;
        for (int n = from; n < row.lines; ++n)
            expected += "line " + std::to_string(n) + " of the service's output, padded to some length\n";
        EXPECT_EQ(kept, expected) << "keep " << row.keep;
    }
}

TEST(LogRotation, SmallFilesAndCommandTargetsAreLeftAlone) {
    tvxtest::TempDir dir;
    const std::string log = dir / "small.log";
    int verdict = InChild([&] {
        CStdRedir redir;
        if (redir.RedirectStderr(log.c_str()) != STDERR_FILENO) return 1;
        if (redir.RedirectStdout(("|cat > " + dir / "piped.log").c_str()) != STDOUT_FILENO) return 2;
        for (int n = 0; n < 400; ++n) WriteLine(STDOUT_FILENO, n);
        WriteLine(STDERR_FILENO, 0);
        int rotated = redir.RotateFiles(1024, 2);
        redir.Restore();
        return rotated == 0 ? 0 : 3;
    });
    EXPECT_EQ(verdict, 0);
    EXPECT_FALSE(tvxtest::FileExists(log + ".1"));
    EXPECT_FALSE(tvxtest::FileExists(dir / "piped.log.1"));
    EXPECT_TRUE(EveryLineOnce({dir / "piped.log"}, 400));
}

TEST(LogRotation, ReopenAfterAnOutsideRenameLosesNoLine) {
    tvxtest::TempDir dir;
    const std::string log = dir / "out.log";
    int verdict = InChild([&] {
        CStdRedir redir;
        if (redir.RedirectStdout(log.c_str()) != STDOUT_FILENO) return 1;
        for (int n = 0; n < 10; ++n) WriteLine(STDOUT_FILENO, n);
        if (rename(log.c_str(), (log + ".old").c_str()) != 0) return 2;  // what logrotate does
        for (int n = 10; n < 20; ++n) WriteLine(STDOUT_FILENO, n);       // before the signal: old file
        redir.ReopenFiles();
        for (int n = 20; n < 30; ++n) WriteLine(STDOUT_FILENO, n);
        redir.Restore();
        return 0;
    });
    ASSERT_EQ(verdict, 0);
    EXPECT_TRUE(EveryLineOnce({log + ".old", log}, 30));
    EXPECT_EQ(tvxtest::ReadFile(log).find("line 20 of"), 0u) << "the new file begins with the first line after";
}

TEST(InheritTarget, TheStreamStaysWhereItWas) {
    tvxtest::TempDir dir;
    int verdict = InChild([&] {
        int original = open((dir / "terminal").c_str(), O_WRONLY | O_CREAT, 0644);
        dup2(original, STDERR_FILENO);
        dup2(original, STDOUT_FILENO);
        CStdRedir redir;
        if (redir.RedirectStderr("inherit") != STDERR_FILENO) return 1;
        if (redir.RedirectStdout("inherit") != STDOUT_FILENO) return 2;
        WriteLine(STDERR_FILENO, 0);
        WriteLine(STDOUT_FILENO, 1);
        redir.Restore();
        WriteLine(STDOUT_FILENO, 2);
        return tvxtest::FileExists(dir / "inherit") ? 3 : 0;
    });
    EXPECT_EQ(verdict, 0);
    EXPECT_TRUE(EveryLineOnce({dir / "terminal"}, 3));
}

}  // namespace
