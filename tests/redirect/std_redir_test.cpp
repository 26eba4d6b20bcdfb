// CStdRedir on real descriptors. Each case runs in a forked child whose
// descriptors 1 and 2 start on files of its own, so the test program's
// output is never redirected; the child reports what it saw through a pipe.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "redirect/std_redir.h"
#include "tests/support/test_support.h"

namespace {

// Expected result of a redirection call that yields a target's descriptor.
constexpr int kTargetFd = 1000;

// A command target that holds nothing of the caller's but its input and
// starts reading late: its file is complete right after the redirector is
// destroyed only when the destruction waited for it.
const std::string kSlowCat = "|exec >/dev/null 2>&1; sleep 1; exec cat > ";

struct Op {
    int stream;  // 1 or 2
    std::string target;
    int expect;  // exact result, or kTargetFd
};

struct Write {
    int stream;
    std::string text;
    bool viaStdio = false;  // fputs without a flush instead of write(2)
};

struct Row {
    const char* name;
    std::map<std::string, std::string> existing;  // files present before
    std::vector<Op> ops;
    std::vector<Write> writes;
    std::map<std::string, std::string> files;  // expected content afterwards
    std::vector<std::string> absent;
    int sharedOffset = -1;  // 1: descriptors 1 and 2 share one offset, 0: they do not
};

// What a child reports: empty when everything held.
std::string gChildErrors;

void Check(bool ok, const std::string& what) {
    if (!ok) gChildErrors += what + "\n";
}

// Descriptors above 2 that a program started now would inherit.
std::vector<int> InheritableDescriptors() {
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return fds;
    int own = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        int fd = atoi(e->d_name);
        if (e->d_name[0] == '.' || fd <= 2 || fd == own) continue;
        int flags = fcntl(fd, F_GETFD);
        if (flags != -1 && !(flags & FD_CLOEXEC)) fds.push_back(fd);
    }
    closedir(dir);
    return fds;
}

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

// Forks, runs `body` in the child inside `dir` with descriptors 1 and 2 on
// the files "orig_out" and "orig_err", and returns the child's report.
std::string RunInChild(const tvxtest::TempDir& dir, const std::function<void(int report)>& body) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(120);  // a hang ends the child, which fails the case
        if (chdir(dir.path().c_str()) != 0) _exit(3);
        int out = open("orig_out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open("orig_err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        gChildErrors.clear();
        body(fds[1]);
        WriteAll(fds[1], gChildErrors);
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) report.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += "child ended abnormally (status " + std::to_string(status) + ")\n";
    return report;
}

std::string Big(size_t size) {
    std::string text;
    text.reserve(size);
    for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i) + "\n";
    text.resize(size);
    return text;
}

void RunRow(const Row& row) {
    SCOPED_TRACE(row.name);
    tvxtest::TempDir dir;
    for (const auto& f : row.existing) tvxtest::WriteFile(dir / f.first, f.second);

    std::string report = RunInChild(dir, [&](int) {
        // Nothing the redirector opens may reach programs started later.
        const std::vector<int> inheritable = InheritableDescriptors();
        {
            CStdRedir redir;
            for (const Op& op : row.ops) {
                int got = op.stream == 1 ? redir.RedirectStdout(op.target.c_str())
                                         : redir.RedirectStderr(op.target.c_str());
                bool ok = op.expect == kTargetFd ? got > 2 : got == op.expect;
                Check(ok, "redirect " + std::to_string(op.stream) + " to '" + op.target + "' gave " +
                              std::to_string(got));
                int target = redir.GetStdRedir(op.target.c_str());
                if (target != -1) Check(fcntl(target, F_GETFD) & FD_CLOEXEC, "target of '" + op.target + "' inheritable");
            }
            Check(!(fcntl(1, F_GETFD) & FD_CLOEXEC) && !(fcntl(2, F_GETFD) & FD_CLOEXEC),
                  "standard descriptors must stay inheritable");
            Check(InheritableDescriptors() == inheritable, "the redirector left a descriptor inheritable");
            for (const Write& w : row.writes) {
                if (w.viaStdio)
                    fputs(w.text.c_str(), w.stream == 1 ? stdout : stderr);
                else
                    WriteAll(w.stream, w.text);
            }
            if (row.sharedOffset != -1) {
                bool shared = lseek(1, 0, SEEK_CUR) == lseek(2, 0, SEEK_CUR);
                Check(shared == (row.sharedOffset == 1), "offset sharing differs");
            }
        }
        // Restored: these land where the streams pointed before.
        WriteAll(1, "after-out");
        WriteAll(2, "after-err");
    });
    EXPECT_EQ(report, "");
    for (const auto& f : row.files) {
        SCOPED_TRACE(f.first);
        EXPECT_TRUE(tvxtest::FileExists(dir / f.first));
        std::string content = tvxtest::ReadFile(dir / f.first);
        EXPECT_EQ(content.size(), f.second.size());
        EXPECT_TRUE(content == f.second) << content.substr(0, 200);
    }
    for (const std::string& name : row.absent) EXPECT_FALSE(tvxtest::FileExists(dir / name)) << name;
}

TEST(StdRedir, RedirectionTable) {
    const std::string big = Big(3 << 20);  // far beyond a pipe's buffer
    const Row rows[] = {
        {"both streams to one file: one open, one offset",
         {},
         {{2, "log", 2}, {1, "log", 1}},
         {{1, "out1 "}, {2, "err1 "}, {1, "out2"}},
         {{"log", "out1 err1 out2"}, {"orig_out", "after-out"}, {"orig_err", "after-err"}},
         {},
         1},
        {"stdout twice to two paths: the second opens but keeps nothing",
         {},
         {{1, "a", 1}, {1, "b", kTargetFd}},
         {{1, "x"}, {2, "e"}},
         {{"a", "x"}, {"b", ""}, {"orig_out", "after-out"}, {"orig_err", "eafter-err"}},
         {}},
        {"missing directory: -1 both times, the stream stays",
         {},
         {{2, "missing/log", -1}, {2, "missing/log", -1}},
         {{2, "e"}},
         {{"orig_err", "eafter-err"}},
         {"missing"}},
        {"failing second target leaves the first in place",
         {},
         {{1, "a", 1}, {1, "missing/x", -1}},
         {{1, "x"}},
         {{"a", "x"}, {"orig_out", "after-out"}},
         {"missing"}},
        {"existing file is appended to",
         {{"log", "old\n"}},
         {{1, "log", 1}},
         {{1, "new"}},
         {{"log", "old\nnew"}},
         {}},
        {"names are compared case-sensitively",
         {},
         {{1, "Log", 1}, {2, "log", 2}},
         {{1, "O"}, {2, "EEE"}},
         {{"Log", "O"}, {"log", "EEE"}},
         {},
         0},
        {"buffered standard-output text reaches the target before restore",
         {},
         {{1, "log", 1}},
         {{1, "buffered", true}},
         {{"log", "buffered"}, {"orig_out", "after-out"}},
         {}},
        {"command target receives everything",
         {},
         {{1, kSlowCat + "piped", 1}},
         {{1, big}},
         {{"piped", big}, {"orig_out", "after-out"}},
         {}},
        {"both streams into one command",
         {},
         {{2, kSlowCat + "piped", 2}, {1, kSlowCat + "piped", 1}},
         {{1, "o1 "}, {2, "e1 "}, {1, "o2"}},
         {{"piped", "o1 e1 o2"}, {"orig_out", "after-out"}, {"orig_err", "after-err"}},
         {}},
        {"one command per stream (the later command holds the earlier pipe)",
         {},
         {{2, kSlowCat + "e.txt", 2}, {1, kSlowCat + "o.txt", 1}},
         {{1, big}, {2, "err"}},
         {{"o.txt", big}, {"e.txt", "err"}, {"orig_out", "after-out"}, {"orig_err", "after-err"}},
         {}},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(StdRedir, FailedTargetIsNotRetried) {
    tvxtest::TempDir dir;
    std::string report = RunInChild(dir, [&](int) {
        CStdRedir redir;
        Check(redir.RedirectStderr("later/log") == -1, "first call must fail");
        mkdir("later", 0755);
        Check(redir.RedirectStderr("later/log") == -1, "same name must not be opened again");
        Check(redir.GetStdRedir("later/log") == -1, "lookup keeps -1");
        Check(redir.RedirectStderr("./later/log") == 2, "another name is a new target");
    });
    EXPECT_EQ(report, "");
    EXPECT_TRUE(tvxtest::FileExists(dir / "later/log"));
}

TEST(StdRedir, RestoreIsIdempotentAndPutsBackAClosedStream) {
    tvxtest::TempDir dir;
    std::string report = RunInChild(dir, [&](int) {
        close(1);
        {
            CStdRedir redir;
            int fd = redir.GetStdRedir("log");
            Check(fd > 2, "a target never lands on a standard descriptor");
            Check(redir.RedirectStdout("log") == 1, "redirects the closed stream");
            WriteAll(1, "while-redirected");
            redir.Restore();
            Check(fcntl(1, F_GETFD) == -1, "restore closes the stream again");
            redir.Restore();
            Check(redir.GetStdRedir("log") > 2, "targets after a restore are opened anew");
        }
        Check(fcntl(1, F_GETFD) == -1, "the destructor after Restore changes nothing");
        WriteAll(2, "err-untouched");
    });
    EXPECT_EQ(report, "");
    EXPECT_EQ(tvxtest::ReadFile(dir / "log"), "while-redirected");
    EXPECT_EQ(tvxtest::ReadFile(dir / "orig_err"), "err-untouched");
}

// A new log is never writable by others, whatever the umask; the umask can
// still take more away.
TEST(StdRedir, NewFilesGetMode0640OrLessWhateverTheUmask) {
    const struct {
        mode_t umask;
        mode_t mode;
    } rows[] = {{0, 0640}, {022, 0640}, {027, 0640}, {077, 0600}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.umask);
        tvxtest::TempDir dir;
        std::string report = RunInChild(dir, [&](int) {
            umask(row.umask);
            CStdRedir redir;
            redir.GetStdRedir("log");
        });
        EXPECT_EQ(report, "");
        struct stat st;
        ASSERT_EQ(stat((dir / "log").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, row.mode);
    }
}

}  // namespace
